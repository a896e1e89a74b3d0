// NB records from untrusted bytes. The first byte chooses: bit 0 the record
// (certificate or security user), bit 1 whether the rest is the record
// itself or the payload wrapped into a well-formed record (a certificate
// element, or the plaintext key sealed as the record keeps it), bit 2 the
// optional element's flag (and, when wrapping, the element itself).
#include <openssl/evp.h>

#include <vector>

#include "der_element.h"
#include "fixture_files.h"
#include "tqxcrypt.h"
#include "tqxcrypt_containers.h"

namespace {

using Bytes = std::vector<unsigned char>;

using derelement::tlv;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kEmptySequence = {0x30, 0x00};
const Bytes kOptional = {0x30, 0x03, 0x02, 0x01, 0x01};
const char kPassword[] = "fuzz pass";

Bytes certRecord(const Bytes &element, bool optional) {
    Bytes inner = tlv(0x30, cat({kEmptySequence, Bytes{0x03, 0x01, 0x00}, kEmptySequence, element}));
    Bytes six = tlv(0x30, cat({optional ? kOptional : Bytes(), inner}));
    return tlv(0x30, cat({Bytes{0x13, 0x01, 'N', 0x0A, 0x01, 0x01}, kEmptySequence, kEmptySequence, six}));
}

Bytes seal(const Bytes &plaintext) {
    unsigned char d[20];
    EVP_Digest(kPassword, sizeof kPassword - 1, d, nullptr, EVP_sha1(), nullptr);
    unsigned char iv[8] = {d[16], d[17], d[18], d[19], d[16], d[17], d[18], d[19]};
    Bytes padded = plaintext;
    padded.resize((padded.size() + 7) / 8 * 8, 0);
    Bytes out(padded.size() + 8);
    int n = 0, m = 0;
    EVP_CIPHER *cipher = EVP_CIPHER_fetch(nullptr, "DES-EDE-CBC", nullptr);
    EVP_CIPHER_CTX *ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, cipher, nullptr, d, iv);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_EncryptUpdate(ctx, out.data(), &n, padded.data(), static_cast<int>(padded.size()));
    EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
    out.resize(static_cast<size_t>(n + m));
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    return out;
}

Bytes userRecord(const Bytes &plaintext, bool optional) {
    Bytes key = tlv(0x30, cat({kEmptySequence, tlv(0x04, seal(plaintext))}));
    Bytes fourteen =
        tlv(0x30, cat({Bytes{0x13, 0x00}, tlv(0x18, Bytes(15, '0')),
                       Bytes{0x0A, 0x01, 0x00, 0x03, 0x01, 0x00}, Bytes{0x0A, 0x01, 0x01}, tlv(0xA0, key)}));
    Bytes twelve = tlv(0x30, cat({optional ? kOptional : Bytes(), fourteen}));
    return tlv(0x30, tlv(0x30, cat({Bytes{0x13, 0x01, 'U', 0x02, 0x01, 0x01}, kEmptySequence, kEmptySequence,
                                    kEmptySequence, Bytes{0x0A, 0x01, 0x02, 0x13, 0x00}, kEmptySequence,
                                    Bytes{0x04, 0x00}, twelve})));
}

TQXCRYPT_HANDLE *certificate() {
    static TQXCRYPT_HANDLE *const cert =
        fuzz::fixtureObject(TQXCRYPT_KIND_CERTIFICATE, "containers/nb1024.der");
    return cert;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size) {
    if (size < 1 || size > 65536) return 0;
    const bool user = data[0] & 1, wrap = data[0] & 2, optional = data[0] & 4;
    Bytes body(data + 1, data + size);
    if (wrap) body = user ? userRecord(body, optional) : certRecord(body, optional);
    unsigned char *out = nullptr;
    int length = -1;
    int rc = user ? TQXCrypt_NBSecUser2PFX(body.data(), static_cast<int>(body.size()), kPassword,
                                           certificate(), optional ? 1 : 0, &out, &length)
                  : TQXCrypt_NBCert2X509Cert(body.data(), static_cast<int>(body.size()), optional ? 1 : 0,
                                             &out, &length);
    if (rc == 0) {
        // A certificate is a copy of bytes of the record.
        if (!out || length <= 0 || (!user && static_cast<size_t>(length) > body.size())) __builtin_trap();
        TQCryptMemFree(out);
    } else if (out) {
        __builtin_trap();  // a failure hands nothing out
    }
    return 0;
}
