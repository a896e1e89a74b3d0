#include "cipher_testutil.h"

#include <gtest/gtest.h>

namespace ciphertest {

Bytes opensslEnc(const std::string &cipher, const Bytes &key, const Bytes &iv, const Bytes &data,
                 bool decrypt, bool noPadding) {
    tqtest::TempDir dir;
    tqtest::writeFile(dir.file("in"), data);
    std::string cmd =
        "openssl enc -" + cipher + " -provider legacy -provider default -K " + tqtest::toHex(key);
    if (!iv.empty()) cmd += " -iv " + tqtest::toHex(iv);
    if (decrypt) cmd += " -d";
    if (noPadding) cmd += " -nopad";
    cmd += " -in " + dir.file("in") + " -out " + dir.file("out") + " 2>&1";
    int status = -1;
    std::string said = tqtest::run(cmd, &status);
    EXPECT_EQ(status, 0) << cmd << "\n" << said;
    return status == 0 ? tqtest::readFile(dir.file("out")) : Bytes();
}

int runOperation(TQXCRYPT_HANDLE *cipher, bool encrypt, const unsigned char *iv, int flags, const Bytes &data,
                 const std::vector<size_t> &chunks, Bytes *out) {
    out->clear();
    int rc = encrypt ? TQXCrypt_EncryptInit(cipher, iv, flags) : TQXCrypt_DecryptInit(cipher, iv, flags);
    if (rc != TQ_RTN_OK) return rc;
    size_t at = 0;
    auto feed = [&](size_t n) {
        Bytes block(n + 32);
        int produced = -1;
        rc = encrypt ? TQXCrypt_EncryptUpdate(cipher, data.data() + at, n, block.data(), &produced)
                     : TQXCrypt_DecryptUpdate(cipher, data.data() + at, n, block.data(), &produced);
        if (rc == TQ_RTN_OK) out->insert(out->end(), block.begin(), block.begin() + produced);
        at += n;
        return rc;
    };
    for (size_t n : chunks) {
        if (at + n > data.size()) break;
        if (feed(n) != TQ_RTN_OK) return rc;
    }
    if (feed(data.size() - at) != TQ_RTN_OK) return rc;
    unsigned char last[32];
    int produced = -1;
    rc = encrypt ? TQXCrypt_EncryptFinal(cipher, last, &produced, flags)
                 : TQXCrypt_DecryptFinal(cipher, last, &produced, flags);
    if (rc == TQ_RTN_OK) out->insert(out->end(), last, last + produced);
    return rc;
}

}  // namespace ciphertest
