// What a key handle tells of its key: size, type and flags.
#include "keys_internal.h"

extern "C" {

// Any other handle's object is not a key: reading it as one would crash.
int TQXCrypt_KeySize(TQXCRYPT_HANDLE *key) try {
    EVP_PKEY *pkey = tq::keyOf(key);
    return pkey ? EVP_PKEY_get_size(pkey) : 0;
}
TQ_CATCH_EMPTY

int TQXCrypt_KeyType(TQXCRYPT_HANDLE *key) try {
    EVP_PKEY *pkey = tq::keyOf(key);
    return pkey ? EVP_PKEY_get_base_id(pkey) : 0;
}
TQ_CATCH_EMPTY

int TQXCrypt_KeyFlags(void) try { return -1; }
TQ_CATCH_RETURN(-1)

}  // extern "C"
