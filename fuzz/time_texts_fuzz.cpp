// Time texts from untrusted bytes (up to the first NUL) through every setter
// that takes one: the validity bounds of a certificate, the update times of
// a CRL, a revocation date, and the two setters of a bare ASN.1 time. What a
// setter takes reads back as the same time text, in four-digit years and
// with a zero offset as +0000.
#include <cstring>
#include <string>

#include <openssl/asn1.h>

#include "tqxcrypt_build.h"
#include "tqxcrypt_crl.h"
#include "tqxcrypt_x509.h"

namespace {

// The two forms a setter takes: 14 or 12 digits of the time, a sign and four
// digits of the offset.
bool wellFormed(const std::string &text) {
    if (text.size() != 19 && text.size() != 17) return false;
    const size_t sign = text.size() - 5;
    for (size_t i = 0; i < text.size(); ++i)
        if (i == sign ? text[i] != '+' && text[i] != '-' : text[i] < '0' || text[i] > '9') return false;
    return true;
}

// The text a reader must give back for an accepted input text.
std::string readBack(const std::string &text) {
    std::string out = text.size() == 17 ? std::string(text[0] >= '5' ? "19" : "20") + text : text;
    if (out.compare(15, 4, "0000") == 0) out[14] = '+';
    return out;
}

// A text a setter took: of its form, and read back alike.
void expect(int rc, const char *read, const std::string &text) {
    if (!wellFormed(text) || rc != TQ_RTN_OK || readBack(text) != read) __builtin_trap();
}

// A bound of a certificate's validity or a CRL's update times.
struct Bound {
    int (*create)(TQXCRYPT_HANDLE **);
    int (*set)(TQXCRYPT_HANDLE *, const char *);
    int (*get)(TQXCRYPT_HANDLE *, int, char *);
};

const Bound kBounds[] = {{TQXCrypt_CreateCertificate, TQXCrypt_CertSetNotBefore, TQXCrypt_CertGetNotBefore},
                         {TQXCrypt_CreateCertificate, TQXCrypt_CertSetNotAfter, TQXCrypt_CertGetNotAfter},
                         {TQXCrypt_CreateCRL, TQXCrypt_CRLSetLastUpdate, TQXCrypt_CRLGetLastUpdate},
                         {TQXCrypt_CreateCRL, TQXCrypt_CRLSetNextUpdate, TQXCrypt_CRLGetNextUpdate}};

void bounds(const std::string &text) {
    for (const Bound &bound : kBounds) {
        TQXCRYPT_HANDLE *object = nullptr;
        if (bound.create(&object) != TQ_RTN_OK) continue;
        char read[TQXCRYPT_TIME_TEXT_SIZE];
        if (bound.set(object, text.c_str()) == TQ_RTN_OK) expect(bound.get(object, 0, read), read, text);
        TQXCryptFreeHandle(object);
    }
}

// A revocation date, looked up by the serial number written another way.
void revocation(const std::string &text) {
    TQXCRYPT_HANDLE *list = nullptr;
    if (TQXCrypt_CreateCRL(&list) != TQ_RTN_OK) return;
    if (TQXCrypt_CRLAddRevoked(list, "0102", text.c_str(), TQ_RTN_REVOKED_KEY_COMPROMISE) == TQ_RTN_OK) {
        char read[TQXCRYPT_TIME_TEXT_SIZE];
        int status = 0;
        expect(TQXCrypt_CRLGetRevoked(list, "102", read, &status, 0), read, text);
        if (status != TQ_RTN_REVOKED_KEY_COMPROMISE) __builtin_trap();
    }
    TQXCryptFreeHandle(list);
}

// The bare setters store the text, a zero offset as Z, in the time's type.
void bare(const std::string &text) {
    ASN1_TIME *time = ASN1_TIME_new();
    if (!time) return;
    for (bool generalized : {true, false}) {
        int rc =
            generalized ? tqxCryptSetGeneralTime(time, text.c_str()) : tqxCryptSetUTCTime(time, text.c_str());
        if (rc != TQ_RTN_OK) continue;
        if (!wellFormed(text)) __builtin_trap();
        std::string stored = text;
        if (stored.compare(stored.size() - 4, 4, "0000") == 0) stored.replace(stored.size() - 5, 5, "Z");
        const std::string held(reinterpret_cast<const char *>(ASN1_STRING_get0_data(time)),
                               static_cast<size_t>(ASN1_STRING_length(time)));
        if (held != stored ||
            ASN1_STRING_type(time) != (generalized ? V_ASN1_GENERALIZEDTIME : V_ASN1_UTCTIME))
            __builtin_trap();
        char read[TQXCRYPT_TIME_TEXT_SIZE];
        expect(tqxGetCertTimeFormat(time, 0, read), read, text);
    }
    ASN1_TIME_free(time);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    static bool started = (TQXCryptInitialize(), true);
    (void)started;
    const std::string text(std::string(reinterpret_cast<const char *>(data), size).c_str());
    bounds(text);
    revocation(text);
    bare(text);
    return 0;
}
