// Shared between the PKCS#12, PKCS#8 and NB sources; not exported.
#pragma once

#include "base_internal.h"
#include "tqxcrypt_containers.h"

namespace tq {

// The PKCS#12 this library writes: key bag and certificate safe under
// pbeWithSHAAnd3-KeyTripleDES-CBC, MAC HMAC-SHA1, 2048 iterations, which the
// older importers PFX files go to read as well as 3.0's tool. 5043 when the
// library cannot make it (a key of another certificate).
int makePkcs12(const char *password, EVP_PKEY *key, X509 *cert, STACK_OF(X509) *ca, Pkcs12Ptr *out);
// The DER of a PKCS#12 in a new buffer from the library allocator; 5002.
int pkcs12Der(PKCS12 *p12, TqMem *der, size_t *length);

// A new handle holding one more reference to a key (kind 6) or certificate
// (kind 1); 5002.
int keyHandle(EVP_PKEY *key, TQXCRYPT_HANDLE **out);
int certificateHandle(X509 *cert, TQXCRYPT_HANDLE **out);

// The minimal DER walker of the NB records. A header: its identifier and
// length within `available` bytes; returns the constructed bit (0x20) ORed
// with 1 for the indefinite form, 0x80 when it does not read. More than four
// length bytes do not read.
int tqxASN1_get_object(const unsigned char **cursor, long *length, int *tag, int *tagClass, long available);
int tqxasn1_get_length(const unsigned char **cursor, int *indefinite, long *length, int available);
// One path step: the header must read, carry `tag` (160: any) and declare
// no more than what remains; the cursor then stands after the header (into)
// or after the content (over). 0, or -1 with the cursor left.
int checkNBFormat(const unsigned char **cursor, int available, int tag, int over, int *length);
// Two-key triple-DES CBC decryption of whole blocks with key K1 K2; iv then
// holds the last ciphertext block. 1, or 0 when OpenSSL fails.
int cbc_decrypt_2k(const unsigned char *key, unsigned char *iv, unsigned char *out, const unsigned char *in,
                   int length);

}  // namespace tq
