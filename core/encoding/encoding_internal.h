// Shared between the codecs and the encoders by kind; not exported.
#pragma once

#include "base_internal.h"

extern "C" {
// The Base64 core with its own output rule (char pointer and int count).
int tqbase64_encode(const unsigned char *data, int length, char **text, int *textLength);
int tqbase64_encode_ex(const unsigned char *data, int length, char **text, int *textLength);
int tqbase64_decode(const char *text, int length, unsigned char **data, int *dataLength);

int tqcrypt_passwd_cb(char *buffer, int size, int rwflag, void *password);
void tqxCryptFreeP12List(TQXCRYPT_P12_CONTENTS *contents);
}

namespace tq {
using I2d = int (*)(const void *object, unsigned char **out);
using D2i = void *(*)(void **object, const unsigned char **in, long length);

// The sign and verify slots of the tables that have them: the hash selector
// in the low four bits of the flags; 0 or a result code.
int signCertificate(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags);
int verifyCertificate(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags);
int signCertRequest(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags);
int verifyCertRequest(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags);
int signCrl(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags);
int verifyCrl(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags);
int signOcspRequest(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags);
int verifyOcspRequest(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags);
int verifyOcspResponse(TQXCRYPT_HANDLE *object, TQXCRYPT_HANDLE *key, int flags);
}  // namespace tq

// Common DER/text encoder and decoder behind the method tables.
int tqxCrypt_ASN1_Encode(const void *object, tq::I2d i2d, int text, const char *label, TQXCRYPT_BLOB *out);
int tqxCrypt_ASN1_Decode(void **object, const unsigned char *data, size_t length, tq::D2i d2i, int text,
                         const char *labels);
