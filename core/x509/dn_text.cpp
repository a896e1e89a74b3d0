// DN text: an X.509 name as LF-separated lines of key '=' value, each entry
// in a relative distinguished name of its own.
#include "x509_internal.h"

namespace {

constexpr size_t kLongestLine = 1023;

bool keySpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
bool valueSpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

template <class Pred>
void trim(tq::ByteCursor &text, Pred pred) {
    while (!text.empty() && pred(text.peek())) text.skip(1);
    text.trimEnd(pred);
}

// The attribute a key names: "E" and "Email" the e-mail address, as callers
// wrote them for the old generation; otherwise any name or dotted
// identifier the library knows.
int keyNid(const std::string &key) {
    if (key == "E" || key == "Email") return NID_pkcs9_emailAddress;
    return OBJ_txt2nid(key.c_str());
}

bool addLine(X509_NAME *name, tq::ByteCursor line) {
    if (line.remaining() > kLongestLine) return false;
    size_t eq = line.find('=');
    if (eq == SIZE_MAX) return false;
    tq::ByteCursor key = line.take(eq);
    line.skip(eq + 1);
    trim(key, keySpace);
    trim(line, valueSpace);
    if (key.empty()) return false;
    int nid = keyNid(std::string(reinterpret_cast<const char *>(key.here()), key.remaining()));
    if (nid == NID_undef) return false;
    // The default string types of 3.0 (UTF8String, or what the attribute
    // fixes) and its size limits decide; an empty value holds where the
    // attribute allows one.
    static const unsigned char kEmpty[1] = {0};
    const unsigned char *value = line.empty() ? kEmpty : line.here();
    return X509_NAME_add_entry_by_NID(name, nid, MBSTRING_UTF8, value, static_cast<int>(line.remaining()), -1,
                                      0) == 1;
}

}  // namespace

extern "C" {

X509_NAME *tqxCrypt_GetX509Name(const char *text) try {
    tq::X509NamePtr name(X509_NAME_new());
    if (!name) return nullptr;
    if (!text) return name.release();
    tq::ByteCursor rest(reinterpret_cast<const unsigned char *>(text), std::strlen(text));
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        tq::ByteCursor line = rest.take(end);
        rest.skip(end == SIZE_MAX ? rest.remaining() : end + 1);
        if (!addLine(name.get(), line)) return nullptr;
    }
    return name.release();
}
TQ_CATCH_OPENSSL(nullptr)

}  // extern "C"
