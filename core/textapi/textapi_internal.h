// Helpers shared by the one-call text functions; not exported.
#pragma once

#include "base_internal.h"
#include "tqcrypt.h"

namespace tq {

// A certificate, key, message or signer-info text (PEM or bare Base64)
// decoded into a handle of `kind` that the caller owns.
int decodeText(const char *text, int kind, const char *password, HandlePtr &out);

// The object's DER as Base64 text (64-character lines, each ended by LF, no
// armour) from the library allocator, into *text; unset on failure.
int handOutBase64(TQXCRYPT_HANDLE *handle, int kind, char **text);
// The same for DER bytes at hand.
int handOutBase64(const unsigned char *der, size_t length, char **text);

// Bytes as upper-case hexadecimal text from the library allocator.
int handOutHex(const unsigned char *bytes, size_t length, char **text);

// The key-usage gate: every bit of `required` set in the certificate's
// key usage, or no key-usage extension at all; else 5017.
int keyUsageGate(TQXCRYPT_HANDLE *certificate, int required);

// A PKCS#12 DER opened with its password.
int unpackP12(const unsigned char *der, size_t length, const char *password, HandlePtr &p12);

}  // namespace tq
