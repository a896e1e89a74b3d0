// The unpacked content of a PKCS#12 handle.
#include "encoding_internal.h"

extern "C" void tqxCryptFreeP12List(TQXCRYPT_P12_CONTENTS *contents) try {
    if (!contents) return;
    sk_EVP_PKEY_pop_free(contents->keys, EVP_PKEY_free);
    sk_X509_pop_free(contents->caCerts, X509_free);
    sk_X509_pop_free(contents->userCerts, X509_free);
    TQCryptMemFree(contents);
}
TQ_CATCH_VOID
