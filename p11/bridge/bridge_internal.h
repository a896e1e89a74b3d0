// Shared pieces of the bridge: key references and the token RSA objects
// that carry them.
#pragma once

#include <memory>

#include <openssl/evp.h>

#include "base_internal.h"
#include "tqxp11bridge.h"
#include "tqxp11crypto.h"

extern "C" {
// The two method tables of token key handles, and their free operation.
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1P11PrivateKeyMethod(void);
const TQXCRYPT_ASN1_METHOD *tqxCryptASN1P11PublicKeyMethod(void);
void tqxCrypt_ASN1_FreeP11PrivateKey(TQXCRYPT_HANDLE *handle);

// The token cipher objects, the final hook of token cipher handles and
// their hook table.
const EVP_CIPHER *tqx_pkcs11_des(void);
const EVP_CIPHER *tqx_pkcs11_des_cbc(void);
const EVP_CIPHER *tqx_pkcs11_des3_ede(void);
const EVP_CIPHER *tqx_pkcs11_des3_ede_cbc(void);
const EVP_CIPHER *tqx_pkcs11_rc4(void);
int tqxP11Crypt_SymFinal(TQXCRYPT_HANDLE *cipher, int flags, int encrypt);
const TQXCRYPT_CIPHER_HOOKS *tqxP11CryptSymCBMethod(void);
}

namespace tqbridge {

// Releases a reference with its object record and that record's value
// record; the session stays.
void releaseReference(TQXP11_KEY_REFERENCE *reference);
struct ReferenceFree {
    void operator()(TQXP11_KEY_REFERENCE *reference) const { releaseReference(reference); }
};
using ReferencePtr = std::unique_ptr<TQXP11_KEY_REFERENCE, ReferenceFree>;

// An RSA key of n and e from the reference's key record whose operations
// run on the token, with the reference in the RSA object's slot 0. The key
// does not own the reference: whoever releases the key releases it too.
// 5005 for a record without modulus or exponent, 5002, 5001.
int tokenKey(TQXP11_KEY_REFERENCE *reference, tq::EvpPkeyPtr &key);

// The reference a token key carries, or null.
TQXP11_KEY_REFERENCE *referenceOf(EVP_PKEY *key);

// The key reference of a token cipher handle with what its callbacks keep:
// whether the context has its cipher yet, and which token operation runs.
struct CipherReference {
    TQXP11_KEY_REFERENCE reference;  // first: the application data points here
    bool bound;
    enum Running : int { kNone = 0, kEncrypting = 1, kDecrypting = 2 } running;
};
CipherReference *cipherReferenceOf(TQXP11_KEY_REFERENCE *reference);
// Ends the running token operation, if any; the token's answer.
int closeTokenOperation(CipherReference *reference);
// Wipes a key value the reader brought and releases the reference with its
// records; a running token operation is the caller's to close first.
void releaseCipherReference(CipherReference *reference);
// A token cipher handle for a copy of the caller's key record.
int getSymmetricKey(TQXP11_SESSION *session, const TQXP11_OBJECT *key, int algorithm, int flags,
                    TQXCRYPT_HANDLE **cipher);

// The bytes of a CKA_ID text by one of the two hex decoders: the decoder's
// code when it refuses, 5005 for a text that gives no byte (an empty ID
// would select every object stored without one).
using HexDecoder = int (*)(const char *, int, unsigned char **, int *);
int decodeId(const char *hexId, HexDecoder decode, tq::TqMem &id, CK_ULONG *count);

// Records of the calls that name token objects by label (label_records.cpp).
constexpr size_t kLabelMax = TQXP11_LABEL_SIZE - 1;
// Whether the whole text fits a record's label field.
bool labelFits(const char *label);
// A record of the label's first 255 characters, the kind and the low byte
// of the private flag, without value record.
TQXP11_OBJECT labelRecord(const char *label, CK_ULONG kind, int isPrivate);
// The record's label characters, without NUL: the CKA_ID of its key.
TQXP11_BYTES labelBytes(TQXP11_OBJECT &record);
// The zero IV of a key's kind: 16 bytes for AES, 8 for every other kind.
TQXP11_BYTES zeroIv(CK_ULONG kind);
// Hands a read value out in a new system buffer of length + 1 zero-filled
// bytes (5002 when there is none).
int handOut(const TQXP11_BYTES &value, unsigned char **out, CK_ULONG *length);
// The same for a name taken whole: 5005 for no label or one the field
// cannot hold (a shortened name could select another object).
int namedRecord(const char *label, CK_ULONG kind, int isPrivate, TQXP11_OBJECT *record);
// Hands a finished blob's buffer to the caller, who frees it; the blob is
// left empty.
int handOver(TQXCRYPT_BLOB *blob, char **out);
// The record of a reader: the label cut to the field, as readers always
// searched.
TQXP11_OBJECT searchRecord(const char *label, CK_ULONG kind, bool isPrivate);
// A byte string of a record pointing at the caller's bytes or text.
TQXP11_BYTES bytesOf(const void *data, size_t length);
TQXP11_BYTES textBytes(const char *text);

// The writers of certificates and RSA keys by name that several exported
// calls share (certs_by_name.cpp, rsa_key_writers.cpp).
// The certificate object of a handle, with the ID bytes when there are any.
int writeCertificate(TQXP11_SESSION *session, TQXCRYPT_HANDLE *certificate, const char *label,
                     const TQXP11_BYTES &id, int flags);
// The key objects of a key handle: the private key and then, once it is
// written, the public key; or the public key alone.
int writeRsaKey(TQXP11_SESSION *session, TQXCRYPT_HANDLE *key, const char *label, const char *idText,
                int flags, bool withPrivate);

}  // namespace tqbridge
