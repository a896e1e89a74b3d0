// Decoding texts into owned handles and handing out texts, for every family
// of the one-call text API.
#include "textapi_internal.h"

#include "tqxcrypt_containers.h"
#include "tqxcrypt_x509.h"

namespace tq {

int decodeText(const char *text, int kind, const char *password, HandlePtr &out) {
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXCrypt_DecodeObject(&made, kind, reinterpret_cast<const unsigned char *>(text),
                                   std::strlen(text), TQXCRYPT_DECODE_TEXT, password);
    if (rc != TQ_RTN_OK) return rc;
    out.reset(made);
    return TQ_RTN_OK;
}

int handOutBase64(TQXCRYPT_HANDLE *handle, int kind, char **text) {
    TQXCRYPT_BLOB blob{0, nullptr};
    int rc = TQXCrypt_EncodeObject(handle, kind, &blob, TQXCRYPT_ENCODE_TEXT, nullptr);
    if (rc != TQ_RTN_OK) {
        TQXCryptFreeBlob(&blob);
        return rc;
    }
    *text = reinterpret_cast<char *>(blob.data);
    return TQ_RTN_OK;
}

int handOutBase64(const unsigned char *der, size_t length, char **text) {
    TQXCRYPT_BLOB blob{0, nullptr};
    int rc = TQXCrypt_Encode(der, length, &blob, nullptr);
    if (rc != TQ_RTN_OK) {
        TQXCryptFreeBlob(&blob);
        return rc;
    }
    *text = reinterpret_cast<char *>(blob.data);
    return TQ_RTN_OK;
}

int handOutHex(const unsigned char *bytes, size_t length, char **text) {
    if (length > static_cast<size_t>(INT_MAX / 2)) return TQ_RTN_BAD_ARGUMENT;
    static const unsigned char nothing = 0;
    char *hex = nullptr;
    int hexLength = 0;
    int rc = TQXCrypt_HexEncode(bytes ? bytes : &nothing, static_cast<int>(length), &hex, &hexLength);
    if (rc != TQ_RTN_OK) return rc;
    *text = hex;
    return TQ_RTN_OK;
}

int keyUsageGate(TQXCRYPT_HANDLE *certificate, int required) {
    int bits = 0;
    int rc = TQXCrypt_CertGetKeyUsage(certificate, &bits);
    if (rc == TQ_RTN_NOT_PRESENT) return TQ_RTN_OK;
    if (rc != TQ_RTN_OK) return rc;
    return (bits & required) == required ? TQ_RTN_OK : TQ_RTN_KEY_USAGE;
}

int unpackP12(const unsigned char *der, size_t length, const char *password, HandlePtr &p12) {
    if (!der) return TQ_RTN_BAD_ARGUMENT;
    TQXCRYPT_HANDLE *made = nullptr;
    int rc = TQXCrypt_DecodeObject(&made, TQXCRYPT_KIND_PKCS12, der, length, 0, nullptr);
    if (rc != TQ_RTN_OK) return rc;
    p12.reset(made);
    return TQXCrypt_P12Unpack(p12.get(), password, 0);
}

}  // namespace tq
