// Detached PKCS#7 of 1 KB with an RSA-2048 key on a SoftHSM2 token: the Java
// road (the key taken once through the natives, then XPKCS7SignX) against the
// same road from C, and against the bare token signature with the message
// built around it. The roads take turns over several rounds; the medians are
// compared.
#include <jni.h>

#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_jvm.h"
#include "file_bytes.h"
#include "softhsm_token.h"
#include "tqxcrypt.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_pkcs7.h"
#include "tqxp11bridge.h"
#include "tqxp11obj.h"

namespace {

const int kWarmUp = 200;
const int kPerRound = 300;
const int kRounds = 5;

template <class F>
double nanosPerCall(F f, int n) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < n; ++i) f();
    return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / n;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void fail(const char *what, int code) {
    std::fprintf(stderr, "%s: %d\n", what, code);
    std::exit(1);
}

// The DER prefix of a SHA-256 DigestInfo.
const unsigned char kSha256Info[] = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                                     0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};

}  // namespace

int main() {
    tqbench::SoftToken files;
    files.makeIdentity("bench");
    files.importKey("bench");
    TQXCryptInitialize();
    JNIEnv *env = nullptr;
    jclass bench = tqbench::startJvm(TQ_BENCH_CLASSES, "JniTokenBench", TQ_BENCH_LIBRARY, &env);
    if (!bench) return 1;
    // Java opens the session through the natives, as a Java host does; the C
    // roads work on the same record.
    const jlong jsession = env->CallStaticLongMethod(
        bench, env->GetStaticMethodID(bench, "open", "(Ljava/lang/String;Ljava/lang/String;)J"),
        env->NewStringUTF(TQ_SOFTHSM_MODULE), env->NewStringUTF("123456"));
    if (env->ExceptionCheck() || jsession == 0) fail("token session", 0);
    TQXP11_SESSION &session = *reinterpret_cast<TQXP11_SESSION *>(static_cast<intptr_t>(jsession));
    int rc = 0;
    TQXCRYPT_HANDLE *key = nullptr;
    if ((rc = TQXP11Crypt_GetPrivateKey(&session, "bench", 0, &key)) != 0) fail("token key", rc);
    const std::vector<unsigned char> pem = tqbench::fileBytes(files.path("cert.pem"));
    TQXCRYPT_HANDLE *cert = nullptr;
    if ((rc = TQXCrypt_DecodeObject(&cert, TQXCRYPT_KIND_CERTIFICATE, pem.data(), pem.size(),
                                    TQXCRYPT_DECODE_TEXT, nullptr)) != 0)
        fail("certificate", rc);
    TQXP11_OBJECT record{};
    std::snprintf(record.label, sizeof record.label, "bench");
    record.kind = TQXP11_KIND_RSA_PRIVATE;
    record.isPrivate = CK_TRUE;
    if ((rc = TQXP11_ReadObject(&session, &record)) != 0) fail("key object", rc);

    const jmethodID javaSign = env->GetStaticMethodID(bench, "sign", "(JLjava/lang/String;JII)D");
    const jstring label = env->NewStringUTF("bench");
    const jlong jcert = static_cast<jlong>(reinterpret_cast<intptr_t>(cert));

    const std::vector<unsigned char> kilobyte(1024, 0x5a);
    auto cRoad = [&] {
        TQXCRYPT_BLOB signature{0, nullptr};
        int code = TQXCrypt_PureSign(key, kilobyte.data(), kilobyte.size(),
                                     TQXCRYPT_HASH_SHA256 | TQXCRYPT_PURE_HASH_DATA, &signature);
        TQXCRYPT_HANDLE *p7 = nullptr;
        if (code == 0)
            code = tqxCrypt_GeneratePKCS7WithHandle(signature.data, static_cast<unsigned>(signature.length),
                                                    cert, kilobyte.data(), kilobyte.size(), TQXCRYPT_DETACHED,
                                                    TQXCRYPT_HASH_SHA256, &p7);
        if (code != 0) fail("C road", code);
        TQXCryptFreeHandle(p7);
        TQXCryptFreeBlob(&signature);
    };
    TQXP11_MODULE *m = session.module;
    auto rawRoad = [&] {
        unsigned char info[sizeof kSha256Info + 32];
        std::copy(kSha256Info, kSha256Info + sizeof kSha256Info, info);
        unsigned int n = 0;
        EVP_Digest(kilobyte.data(), kilobyte.size(), info + sizeof kSha256Info, &n, EVP_sha256(), nullptr);
        CK_MECHANISM mechanism = {CKM_RSA_PKCS, nullptr, 0};
        unsigned char signature[256];
        CK_ULONG length = sizeof signature;
        if (m->C_SignInit(session.sessionHandle, &mechanism, record.handle) != CKR_OK ||
            m->C_Sign(session.sessionHandle, info, sizeof info, signature, &length) != CKR_OK)
            fail("C_Sign", 0);
        TQXCRYPT_HANDLE *p7 = nullptr;
        if (tqxCrypt_GeneratePKCS7WithHandle(signature, static_cast<unsigned>(length), cert, kilobyte.data(),
                                             kilobyte.size(), TQXCRYPT_DETACHED, TQXCRYPT_HASH_SHA256,
                                             &p7) != 0)
            fail("building the message", 0);
        TQXCryptFreeHandle(p7);
    };

    nanosPerCall(cRoad, kWarmUp);
    nanosPerCall(rawRoad, kWarmUp);
    std::vector<double> c, java, raw;
    for (int round = 0; round < kRounds; ++round) {
        c.push_back(nanosPerCall(cRoad, kPerRound));
        const double j = env->CallStaticDoubleMethod(bench, javaSign, jsession, label, jcert,
                                                     round == 0 ? kWarmUp : 0, kPerRound);
        if (env->ExceptionCheck() || j < 0) fail("Java road", static_cast<int>(-j));
        java.push_back(j);
        raw.push_back(nanosPerCall(rawRoad, kPerRound));
    }
    const double mc = median(c), mj = median(java), mr = median(raw);
    std::printf("detached PKCS#7 of 1 KB, token RSA-2048, medians of %d rounds of %d:\n", kRounds, kPerRound);
    std::printf("  %-52s %9.0f ns\n", "C: GetPrivateKey once, PureSign + GeneratePKCS7", mc);
    std::printf("  %-52s %9.0f ns\n", "Java: XP11CryptGetPrivateKeyX once, XPKCS7SignX", mj);
    std::printf("  %-52s %9.0f ns\n", "raw: C_Sign + building the message", mr);
    std::printf("  Java / C throughput   %.3f  (target >= 0.95)\n", mc / mj);
    std::printf("  Java / raw throughput %.3f\n", mr / mj);

    TQXCryptFreeHandle(key);
    TQXCryptFreeHandle(cert);
    TQXP11_FreeObject(&record);
    env->CallStaticVoidMethod(bench, env->GetStaticMethodID(bench, "close", "()V"));
    return 0;
}
