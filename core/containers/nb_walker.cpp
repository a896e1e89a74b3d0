// The minimal DER walker of the NB records, and their two-key triple-DES.
// Every byte it reads comes through a ByteCursor bounded by what the caller
// says is available.
#include <climits>

#include <openssl/evp.h>

#include "containers_internal.h"

namespace tq {

namespace {

constexpr int kHeaderFailed = 0x80;
constexpr int kAnyTag = 160;

}  // namespace

int tqxasn1_get_length(const unsigned char **cursor, int *indefinite, long *length, int available) {
    if (!cursor || !*cursor || available <= 0) return 0;
    ByteCursor in(*cursor, static_cast<size_t>(available));
    const int first = in.next();
    long value = 0;
    *indefinite = 0;
    if (first == 0x80) {
        *indefinite = 1;
    } else if (first < 0x80) {
        value = first;
    } else {
        const int count = first & 0x7F;
        if (count > 4) return 0;
        unsigned long long wide = 0;
        for (int i = 0; i < count; ++i) {
            const int b = in.next();
            if (b < 0) return 0;
            wide = (wide << 8) | static_cast<unsigned>(b);
        }
        // A long form wants a byte after it; and a length no long holds is none.
        if (in.empty() || wide > static_cast<unsigned long long>(LONG_MAX)) return 0;
        value = static_cast<long>(wide);
    }
    *length = value;
    *cursor = in.here();
    return 1;
}

int tqxASN1_get_object(const unsigned char **cursor, long *length, int *tag, int *tagClass, long available) {
    if (!cursor || !*cursor || available <= 0) return kHeaderFailed;
    if (available > INT_MAX) available = INT_MAX;
    ByteCursor in(*cursor, static_cast<size_t>(available));
    const int first = in.next();
    int number = first & 0x1F;
    if (number == 0x1F) {
        // Base-128 tag number; four bytes are more than any real tag needs.
        number = 0;
        int b = 0, count = 0;
        do {
            b = in.next();
            if (b < 0 || ++count > 4) return kHeaderFailed;
            number = (number << 7) | (b & 0x7F);
        } while (b & 0x80);
    }
    if (in.empty()) return kHeaderFailed;
    const unsigned char *at = in.here();
    int indefinite = 0;
    long declared = 0;
    if (!tqxasn1_get_length(&at, &indefinite, &declared, static_cast<int>(in.remaining())))
        return kHeaderFailed;
    *cursor = at;
    *length = declared;
    *tag = number;
    *tagClass = first & 0xC0;
    return (first & 0x20) | indefinite;
}

int checkNBFormat(const unsigned char **cursor, int available, int tag, int over, int *length) {
    if (!cursor || !*cursor || available <= 0) return -1;
    const unsigned char *at = *cursor;
    long declared = 0;
    int number = 0, tagClass = 0;
    const int read = tqxASN1_get_object(&at, &declared, &number, &tagClass, available);
    // DER only: an indefinite length says nothing of where the element ends.
    if ((read & kHeaderFailed) || (read & 1)) return -1;
    if (tag != kAnyTag && number != tag) return -1;
    const long header = at - *cursor;
    if (declared > available - header) return -1;
    *length = static_cast<int>(declared);
    *cursor = over ? at + declared : at;
    return 0;
}

int cbc_decrypt_2k(const unsigned char *key, unsigned char *iv, unsigned char *out, const unsigned char *in,
                   int length) {
    if (length < 0 || length % 8) return 0;
    if (length == 0) return 1;
    EvpCipherPtr cipher(EVP_CIPHER_fetch(nullptr, "DES-EDE-CBC", nullptr));
    EvpCipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    if (!cipher || !ctx) return 0;
    unsigned char next[8];
    std::memcpy(next, in + length - 8, 8);  // in and out may be one buffer
    int produced = 0, last = 0;
    if (EVP_DecryptInit_ex(ctx.get(), cipher.get(), nullptr, key, iv) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) != 1 ||
        EVP_DecryptUpdate(ctx.get(), out, &produced, in, length) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), out + produced, &last) != 1)
        return 0;
    std::memcpy(iv, next, 8);
    return 1;
}

}  // namespace tq
