// The key method tables every key handle carries; token keys use them too.
#include "keys_internal.h"

namespace {

const TQXCRYPT_KEY_METHOD tqRsaPriMethod = {
    TQXCrypt_PrivateEncrypt,  // encrypt
    TQXCrypt_PrivateDecrypt,  // decrypt
    TQXCrypt_PureSign,        // sign
    nullptr,                  // verify
    TQXCrypt_KeySize,         //
    TQXCrypt_KeyType,         //
    TQXCrypt_KeyModulus,      // modulus
    TQXCrypt_KeyExponent,     // exponent
    TQXCrypt_KeyFlags,
};

const TQXCRYPT_KEY_METHOD tqRsaPubMethod = {
    TQXCrypt_PublicEncrypt,  // encrypt
    TQXCrypt_PublicDecrypt,  // decrypt
    nullptr,                 // sign
    TQXCrypt_PureVerify,     // verify
    TQXCrypt_KeySize,        //
    TQXCrypt_KeyType,        //
    TQXCrypt_KeyModulus,     // modulus
    TQXCrypt_KeyExponent,    // exponent
    TQXCrypt_KeyFlags,
};

}  // namespace

extern "C" {

const TQXCRYPT_KEY_METHOD *tqxCryptRSAPriMethod(void) try { return &tqRsaPriMethod; }
TQ_CATCH_EMPTY
const TQXCRYPT_KEY_METHOD *tqxCryptRSAPubMethod(void) try { return &tqRsaPubMethod; }
TQ_CATCH_EMPTY
}  // extern "C"
