// The Java binding against the C road: the same core calls timed from C and
// through the natives from a JVM in this process (after warm-up); the added
// time per call and the ratio of the two.
#include <jni.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "bench_jvm.h"
#include "file_bytes.h"
#include "tqxcrypt.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxcrypt_build.h"

namespace {

template <class F>
double nanosPerCall(F f, int n) {
    for (int i = 0; i < n; ++i) f();  // the same warm-up as the Java side
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) f();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / n;
}

TQXCRYPT_HANDLE *decodeFile(int kind, const std::string &path) {
    std::vector<unsigned char> bytes = tqbench::fileBytes(path);
    if (bytes.empty()) return nullptr;
    TQXCRYPT_HANDLE *h = nullptr;
    return TQXCrypt_DecodeObject(&h, kind, bytes.data(), bytes.size(), 0, nullptr) == 0 ? h : nullptr;
}

void report(const char *what, double c, double java, double goalNanos, double targetRatio) {
    std::printf("%-34s C %9.0f ns  Java %9.0f ns  added %7.0f ns  ratio %.3f", what, c, java, java - c,
                c / java);
    if (goalNanos > 0) std::printf("  (goal: added < %.0f ns)", goalNanos);
    if (targetRatio > 0) std::printf("  (target: ratio >= %.2f)", targetRatio);
    std::printf("\n");
}

}  // namespace

int main() {
    const std::string work = TQ_BENCH_WORK;
    const std::string make =
        "cd '" + work +
        "' && openssl req -x509 -newkey rsa:2048 -nodes -keyout k.pem -subj /CN=Bench -days 2 "
        "-sha256 -outform DER -out c.der 2>/dev/null && openssl rsa -in k.pem -outform DER "
        "-out k.der 2>/dev/null";
    if (std::system(make.c_str()) != 0) return 1;
    TQXCRYPT_HANDLE *cert = decodeFile(1, work + "/c.der");
    TQXCRYPT_HANDLE *key = decodeFile(6, work + "/k.der");
    TQXCRYPT_HANDLE *pub = nullptr;
    if (!cert || !key || TQXCrypt_GetPublicKey(key, &pub) != 0) return 1;

    JNIEnv *env = nullptr;
    jclass bench = tqbench::startJvm(TQ_BENCH_CLASSES, "JniBench", TQ_BENCH_LIBRARY, &env);
    if (!bench) return 1;
    const jlong jcert = static_cast<jlong>(reinterpret_cast<intptr_t>(cert));
    const jlong jkey = static_cast<jlong>(reinterpret_cast<intptr_t>(key));
    const jlong jpub = static_cast<jlong>(reinterpret_cast<intptr_t>(pub));

    const int fast = 200000;
    const int medium = 20000;
    const double cHashed = nanosPerCall(
        [&] {
            TQXCRYPT_BLOB der{0, nullptr};
            TQXCrypt_EncodeObject(pub, 7, &der, 0, nullptr);
            TQXCRYPT_HANDLE *digest = nullptr;
            unsigned char out[128];
            TQXCRYPT_BLOB result{sizeof out, out};
            TQXCrypt_HashInit(&digest, 2);
            TQXCrypt_HashUpdate(digest, der.data, der.length, 0);
            TQXCrypt_HashFinal(digest, 0, &result);
            TQXCryptFreeBlob(&der);
        },
        medium);
    const double jHashed =
        env->CallStaticDoubleMethod(bench, env->GetStaticMethodID(bench, "hashed", "(JI)D"), jpub, medium);
    report("XPublicKeyHashedX", cHashed, jHashed, 2000, 0);

    const unsigned char bytes[64] = {0};
    const double cEncode = nanosPerCall(
        [&] {
            TQXCRYPT_BLOB text{0, nullptr};
            TQXCrypt_Encode(bytes, sizeof bytes, &text, nullptr);
            TQXCryptFreeBlob(&text);
        },
        fast);
    const double jEncode =
        env->CallStaticDoubleMethod(bench, env->GetStaticMethodID(bench, "encode", "(I)D"), fast);
    report("Encode, 64 bytes", cEncode, jEncode, 2000, 0);

    const int slow = 1000;
    const std::vector<unsigned char> kilobyte(1024, 0);
    const double cSign = nanosPerCall(
        [&] {
            TQXCRYPT_BLOB signature{0, nullptr};
            TQXCrypt_PureSign(key, kilobyte.data(), kilobyte.size(), 4 | TQXCRYPT_PURE_HASH_DATA, &signature);
            TQXCRYPT_HANDLE *p7 = nullptr;
            tqxCrypt_GeneratePKCS7WithHandle(signature.data, static_cast<unsigned>(signature.length), cert,
                                             kilobyte.data(), kilobyte.size(), TQXCRYPT_DETACHED, 4, &p7);
            TQXCryptFreeHandle(p7);
            TQXCryptFreeBlob(&signature);
        },
        slow);
    const double jSign = env->CallStaticDoubleMethod(bench, env->GetStaticMethodID(bench, "sign", "(JJI)D"),
                                                     jcert, jkey, slow);
    report("XPKCS7SignX, detached 1 KB", cSign, jSign, 0, 0.95);

    // Rounds of both sides in turn, the fastest of each kept: a busy machine
    // slows single runs far more than it slows the best of several.
    const int rounds = 5;
    auto best = [&](auto c, const char *method, const char *signature, auto... args) {
        double cBest = 0, jBest = 0;
        const jmethodID id = env->GetStaticMethodID(bench, method, signature);
        for (int r = 0; r < rounds; ++r) {
            const double cNow = c(), jNow = env->CallStaticDoubleMethod(bench, id, args...);
            cBest = r == 0 || cNow < cBest ? cNow : cBest;
            jBest = r == 0 || jNow < jBest ? jNow : jBest;
        }
        return std::pair<double, double>(cBest, jBest);
    };
    const int reads = fast / rounds;
    auto subject = best(
        [&] {
            return nanosPerCall(
                [&] {
                    char *text = nullptr;
                    TQXCrypt_CertGetSubject(cert, 0, &text);
                    TQCryptMemFree(text);
                },
                reads);
        },
        "subject", "(JI)D", jcert, reads);
    report("XCertGetSubjectX", subject.first, subject.second, 2000, 0);

    auto digest = best(
        [&] {
            return nanosPerCall(
                [&] {
                    TQXCRYPT_BLOB out{0, nullptr};
                    TQXCrypt_CertGetDigest(cert, 4, &out);
                    TQXCryptFreeBlob(&out);
                },
                reads);
        },
        "digest", "(JI)D", jcert, reads);
    report("XCertGetDigestX, SHA-256", digest.first, digest.second, 2000, 0);

    // The same certificate re-signed: OpenSSL's own signer on its own objects.
    const std::vector<unsigned char> certDer = tqbench::fileBytes(work + "/c.der"),
                                     keyDer = tqbench::fileBytes(work + "/k.der");
    const unsigned char *at = certDer.data();
    X509 *x509 = d2i_X509(nullptr, &at, static_cast<long>(certDer.size()));
    at = keyDer.data();
    EVP_PKEY *pkey = d2i_AutoPrivateKey(nullptr, &at, static_cast<long>(keyDer.size()));
    if (!x509 || !pkey) return 1;
    const int signs = slow / rounds;
    auto sign = best([&] { return nanosPerCall([&] { X509_sign(x509, pkey, EVP_sha256()); }, signs); },
                     "signObject", "(JJI)D", jcert, jkey, signs);
    report("XSignObjectX / X509_sign, RSA-2048", sign.first, sign.second, 0, 0.95);
    double core = 0;
    for (int r = 0; r < rounds; ++r) {
        const double now = nanosPerCall([&] { TQXCrypt_SignObject(cert, key, 4); }, signs);
        core = r == 0 || now < core ? now : core;
    }
    std::printf("  the core's TQXCrypt_SignObject from C: %.0f ns, ratio to X509_sign %.3f\n", core,
                sign.first / core);
    // A timing of failed calls would mean nothing.
    if (TQXCrypt_VerifyObject(cert, pub, 0) != 0 || X509_verify(x509, pkey) != 1) return 1;
    EVP_PKEY_free(pkey);
    X509_free(x509);
    if (env->ExceptionCheck()) return 1;
    TQXCryptFreeHandle(pub);
    TQXCryptFreeHandle(key);
    TQXCryptFreeHandle(cert);
    return 0;
}
