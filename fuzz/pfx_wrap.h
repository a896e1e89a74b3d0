// A PKCS#12 file around fuzzer bytes: the bytes become the content of the
// authenticated safe and a fresh MAC under the password covers them, so that
// mutations get past the MAC check to the safes and bags behind it.
#pragma once

#include <cstring>
#include <vector>

#include <openssl/pkcs12.h>

#include "der_element.h"

namespace fuzz {

using Bytes = std::vector<unsigned char>;

inline Bytes concat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The DER of a version-3 file whose authenticated safe (pkcs7-data) holds
// `content`, with a one-iteration SHA-1 MAC under `password` (null: the MAC
// of no password); empty when OpenSSL refuses it.
inline Bytes macedPfx(const unsigned char *content, size_t size, const char *password) {
    static const Bytes kVersion{0x02, 0x01, 0x03};
    static const Bytes kData{0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
    using derelement::tlv;
    const Bytes info = tlv(0x30, concat(kData, tlv(0xA0, tlv(0x04, Bytes(content, content + size)))));
    const Bytes pfx = tlv(0x30, concat(kVersion, info));
    const unsigned char *p = pfx.data();
    PKCS12 *p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(pfx.size()));
    if (!p12) return {};
    static unsigned char salt[] = "fuzzsalt";
    Bytes out;
    if (PKCS12_set_mac(p12, password, password ? static_cast<int>(std::strlen(password)) : 0, salt, 8, 1,
                       EVP_sha1()) == 1) {
        const int n = i2d_PKCS12(p12, nullptr);
        if (n > 0) {
            out.resize(static_cast<size_t>(n));
            unsigned char *q = out.data();
            i2d_PKCS12(p12, &q);
        }
    }
    PKCS12_free(p12);
    return out;
}

}  // namespace fuzz
