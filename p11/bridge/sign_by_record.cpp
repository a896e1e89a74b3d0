// Signing and decrypting with a key given as a read object record: a
// private-key handle that lives for the one call and leaves the caller's
// record and value record exactly as they were.
#include "bridge_internal.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"

namespace {

// The call's own key handle over a copy of the caller's record. Released
// part by part: the handle's free operation would release the caller's
// value record.
class RecordKey {
public:
    RecordKey(TQXP11_SESSION *session, const TQXP11_OBJECT &record) : copy_(record) {
        reference_.session = session;
        reference_.object = &copy_;
    }
    ~RecordKey() { TQCryptMemFree(handle_); }
    RecordKey(const RecordKey &) = delete;
    RecordKey &operator=(const RecordKey &) = delete;

    int open() {
        if (!reference_.session || copy_.handle == 0 || !copy_.valueRecord ||
            copy_.kind != TQXP11_KIND_RSA_PRIVATE)
            return TQ_RTN_BAD_ARGUMENT;
        int rc = tqbridge::tokenKey(&reference_, key_);
        if (rc != TQ_RTN_OK) return rc;
        rc = tqxCryptCreateHandle(&handle_, TQXCRYPT_KIND_PRIVATEKEY, key_.get(),
                                  tqxCryptASN1P11PrivateKeyMethod(),
                                  const_cast<TQXCRYPT_KEY_METHOD *>(tqxCryptRSAPriMethod()));
        return rc == TQ_RTN_OK ? rc : TQ_RTN_MEMORY_ALLOCATE_FAIL;
    }
    TQXCRYPT_HANDLE *handle() const { return handle_; }

private:
    TQXP11_OBJECT copy_;
    TQXP11_KEY_REFERENCE reference_{};
    tq::EvpPkeyPtr key_;
    TQXCRYPT_HANDLE *handle_ = nullptr;
};

}  // namespace

extern "C" {

TQ_API int TQXP11Crypt_XPureSign(TQXP11_SESSION *session, const void *data, size_t length, int flags,
                                 TQXP11_OBJECT key, char **text) try {
    tq::ErrorQueueScope scope;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    RecordKey signer(session, key);
    int rc = signer.open();
    if (rc != TQ_RTN_OK) return rc;
    tq::OwnedBlob signature, encoded;
    rc = TQXCrypt_PureSign(signer.handle(), static_cast<const unsigned char *>(data), length, flags,
                           signature.get());
    if (rc != TQ_RTN_OK) return rc;
    rc = TQXCrypt_Encode(signature.data(), signature.size(), encoded.get(), nullptr);
    if (rc != TQ_RTN_OK) return rc;
    return tqbridge::handOver(encoded.get(), text);
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_XSignData(TQXP11_SESSION *session, TQXCRYPT_HANDLE *certificate, const void *data,
                                 size_t length, int options, int hashFlags, TQXP11_OBJECT key,
                                 char **text) try {
    tq::ErrorQueueScope scope;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    RecordKey signer(session, key);
    int rc = signer.open();
    if (rc != TQ_RTN_OK) return rc;
    const auto *content = static_cast<const unsigned char *>(data);
    tq::OwnedBlob signature, encoded;
    rc = TQXCrypt_PureSign(signer.handle(), content, length, hashFlags | TQXCRYPT_PURE_HASH_DATA,
                           signature.get());
    if (rc != TQ_RTN_OK) return rc;
    tq::HandlePtr pkcs7;
    TQXCRYPT_HANDLE *made = nullptr;
    rc = tqxCrypt_GeneratePKCS7WithHandle(signature.data(), static_cast<unsigned int>(signature.size()),
                                          certificate, content, length, options, hashFlags, &made);
    pkcs7.reset(made);
    if (rc != TQ_RTN_OK) return rc;
    rc =
        TQXCrypt_EncodeObject(pkcs7.get(), TQXCRYPT_KIND_PKCS7, encoded.get(), TQXCRYPT_ENCODE_TEXT, nullptr);
    if (rc != TQ_RTN_OK) return rc;
    return tqbridge::handOver(encoded.get(), text);
}
TQ_CATCH_CODE

TQ_API int TQXP11Crypt_XDecrypt(TQXP11_SESSION *session, TQXCRYPT_HANDLE *certificate, const char *text,
                                size_t length, int flags, TQXP11_OBJECT key, TQXCRYPT_BLOB *plain) try {
    tq::ErrorQueueScope scope;
    if (!plain) return TQ_RTN_BAD_ARGUMENT;
    RecordKey recipient(session, key);
    int rc = recipient.open();
    if (rc != TQ_RTN_OK) return rc;
    tq::OwnedBlob der;
    rc = TQXCrypt_Decode(text, length, der.get(), nullptr);
    if (rc != TQ_RTN_OK) return rc;
    return TQXCrypt_Decrypt(certificate, recipient.handle(), der.data(), der.size(), flags, plain);
}
TQ_CATCH_CODE

}  // extern "C"
