// Untrusted certificate DER, given as Base64 text, through the subject
// fields and the extension summaries of the one-call text API.
#include <string>

#include "tqcrypt.h"
#include "tqxcrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    TQXCRYPT_BLOB text{0, nullptr};
    if (TQXCrypt_Encode(data, size, &text, nullptr) != TQ_RTN_OK) return 0;
    const std::string certificate(reinterpret_cast<const char *>(text.data),
                                  static_cast<size_t>(text.length));
    TQXCryptFreeBlob(&text);
    const int fields[] = {0,
                          TQCRYPT_SUBJECT_CN,
                          TQCRYPT_SUBJECT_EMAIL,
                          TQCRYPT_SUBJECT_O,
                          TQCRYPT_SUBJECT_OU,
                          TQCRYPT_SUBJECT_C,
                          0x200000};
    for (int flags : fields) {
        char *value = nullptr;
        if (TQCrypt_CertGetSubject(certificate.c_str(), flags, &value) == TQ_RTN_OK && !value)
            __builtin_trap();
        TQCryptMemFree(value);
    }
    for (int selector = 1; selector <= 8; ++selector) {
        char *summary = nullptr;
        if (TQCrypt_CertGetKDRAExtension(certificate.c_str(), selector, &summary) == TQ_RTN_OK && !summary)
            __builtin_trap();
        TQCryptMemFree(summary);
    }
    return 0;
}
