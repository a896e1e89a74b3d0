// Blob-level Base64 and PEM armour: bytes to text and back.
#include <cstring>
#include <string>

#include "encoding_internal.h"

namespace {

constexpr size_t kMaxLabel = 110;

std::string beginLine(const std::string &label) { return "-----BEGIN " + label + "-----"; }
std::string endLine(const std::string &label) { return "-----END " + label + "-----"; }

// Decodes Base64 text into the caller's blob by the blob rule. The Base64 core
// writes it there itself: it checks the room before it reads the characters,
// so a buffer too small answers 5003 with the needed size even for text that
// would fail later, which the blob writer, given only finished bytes, cannot.
int decodeBody(tq::ByteCursor body, TQXCRYPT_BLOB *data) {
    body.trimEnd(tq::isSpace);
    if (!tq::fitsInt(body.remaining())) return TQ_RTN_BAD_ARGUMENT;
    const char *text = reinterpret_cast<const char *>(body.here());
    int textLength = static_cast<int>(body.remaining());
    if (!data->data) {
        unsigned char *out = nullptr;
        int outLength = 0;
        int rc = tqbase64_decode(text, textLength, &out, &outLength);
        if (rc != TQ_RTN_OK) return rc;
        data->data = out;
        data->length = static_cast<uint64_t>(outLength);
        return TQ_RTN_OK;
    }
    unsigned char *out = data->data;
    int capacity = data->length > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(data->length);
    int rc = tqbase64_decode(text, textLength, &out, &capacity);
    if (rc == TQ_RTN_OK || rc == TQ_RTN_BUFFER_TOO_SMALL) data->length = static_cast<uint64_t>(capacity);
    return rc;
}

// Armoured text: the body between the BEGIN line of one of `labels` and the
// matching END line. Returns 0 and sets `body`, or 5045, or -1 when no label's
// BEGIN line is there.
int findArmouredBody(const tq::ByteCursor &text, const char *labels, tq::ByteCursor *body) {
    std::string list(labels);
    size_t start = 0;
    for (;;) {
        size_t end = list.find(';', start);
        std::string label = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (label.size() > kMaxLabel) return TQ_RTN_BAD_FORMAT;
        std::string begin = beginLine(label);
        if (text.remaining() > 2 * label.size() + 30 && text.startsWith(begin.data(), begin.size())) {
            tq::ByteCursor c = text;
            c.skip(begin.size());
            while (tq::isSpace(c.peek())) c.skip(1);
            if (c.empty()) return TQ_RTN_BAD_FORMAT;
            size_t dash = c.find('-');
            if (dash == SIZE_MAX) return TQ_RTN_BAD_FORMAT;
            *body = c.take(dash);
            c.skip(dash);
            std::string endText = endLine(label);
            if (!c.startsWith(endText.data(), endText.size())) return TQ_RTN_BAD_FORMAT;
            return TQ_RTN_OK;
        }
        if (end == std::string::npos) return -1;
        start = end + 1;
    }
}

}  // namespace

extern "C" {

int TQXCrypt_Encode(const unsigned char *data, size_t length, TQXCRYPT_BLOB *text, const char *label) try {
    tq::ErrorQueueScope scope;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    if (!tq::fitsInt(length) || (length > 0 && !data)) return TQ_RTN_BAD_ARGUMENT;
    std::string begin, end;
    if (label && *label) {
        begin = beginLine(label) + "\n";
        end = endLine(label) + "\n";
    }
    // Base64 first (allocated), then the armour around it.
    char *bodyText = nullptr;
    int bodyLength = 0;
    int rc = tqbase64_encode(data, static_cast<int>(length), &bodyText, &bodyLength);
    if (rc != TQ_RTN_OK) return rc;
    // The text may spell out a private key: both copies of it are wiped, the
    // Base64 one also when the armoured one cannot be made.
    const size_t n = static_cast<size_t>(bodyLength);
    tq::SecretBlob body;
    *body.get() = TQXCRYPT_BLOB{n, reinterpret_cast<unsigned char *>(bodyText)};
    tq::SecureBytes armoured(begin.size() + n + end.size());
    unsigned char *w = armoured.data();
    for (const auto &[from, count] : {std::pair<const void *, size_t>{begin.data(), begin.size()},
                                      {bodyText, n},
                                      {end.data(), end.size()}}) {
        if (count) std::memcpy(w, from, count);
        w += count;
    }
    return tq::putBlob(text, armoured.data(), armoured.size());
}
TQ_CATCH_CODE

// Not through the blob writer: the Base64 core ends its single line with a NUL
// also in a caller's buffer that has room for one, which the writer never adds.
int TQXCrypt_EncodeEx(const unsigned char *data, int length, TQXCRYPT_BLOB *text) try {
    tq::ErrorQueueScope scope;
    if (!text) return TQ_RTN_BAD_ARGUMENT;
    char *out = reinterpret_cast<char *>(text->data);
    int capacity = text->length > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(text->length);
    int rc = tqbase64_encode_ex(data, length, &out, &capacity);
    if (rc != TQ_RTN_OK && rc != TQ_RTN_BUFFER_TOO_SMALL) return rc;
    text->data = reinterpret_cast<unsigned char *>(out);
    text->length = static_cast<uint64_t>(capacity);
    return rc;
}
TQ_CATCH_CODE

int TQXCrypt_Decode(const char *text, size_t length, TQXCRYPT_BLOB *data, const char *labels) try {
    tq::ErrorQueueScope scope;
    if (!data) return TQ_RTN_BAD_ARGUMENT;
    if (!tq::fitsInt(length) || (length > 0 && !text)) return TQ_RTN_BAD_ARGUMENT;
    tq::ByteCursor c(text, length);
    while (c.remaining() > 1 && tq::isSpace(c.peek())) c.skip(1);
    if (labels && c.peek() == '-') {
        tq::ByteCursor body;
        int rc = findArmouredBody(c, labels, &body);
        if (rc == TQ_RTN_OK) return decodeBody(body, data);
        if (rc != -1) return rc;
    }
    return decodeBody(c, data);
}
TQ_CATCH_CODE

}  // extern "C"
