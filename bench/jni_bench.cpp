// The Java binding against the C road: the same core calls timed from C and
// through the natives from a JVM in this process (after warm-up); the added
// time per call and the ratio of the two.
#include <jni.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_jvm.h"
#include "tqxcrypt.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"

namespace {

template <class F>
double nanosPerCall(F f, int n) {
    for (int i = 0; i < n; ++i) f();  // the same warm-up as the Java side
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) f();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / n;
}

TQXCRYPT_HANDLE *decodeFile(int kind, const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return nullptr;
    std::vector<unsigned char> bytes;
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(f);
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
    if (env->ExceptionCheck()) return 1;
    TQXCryptFreeHandle(pub);
    TQXCryptFreeHandle(key);
    TQXCryptFreeHandle(cert);
    return 0;
}
