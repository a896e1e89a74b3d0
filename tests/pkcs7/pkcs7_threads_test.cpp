// Verifications that share one trust store across threads, each with its own
// checks: one call's choice of CRL checking must never reach another's.
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pkcs7_support.h"

using namespace p7test;
using tqtest::TempDir;

namespace {

Bytes toolSigned(const TempDir &dir, const std::string &signer) {
    const std::string out = dir.file(signer + ".p7.der");
    sh("openssl smime -sign -binary -nodetach -in " + fx("data.bin") + " -signer " + fx(signer + ".pem") +
       " -inkey " + fx(signer + ".key.pem") + " -outform DER -out " + out);
    return tqtest::readFile(out);
}

struct Call {
    const char *what;
    std::function<int()> run;
    int expected;
};

}  // namespace

TEST(Pkcs7Threads, FlagsOfOneVerificationNeverReachAnotherOnASharedStore) {
    TempDir dir;
    HandleOwner shared(store(true));
    HandleOwner revokedCert(cert("revoked")), goodCert(cert("signer"));
    HandleOwner revokedMsg(message(toolSigned(dir, "revoked"))), goodMsg(message(toolSigned(dir, "signer")));
    ASSERT_TRUE(shared.get() && revokedCert.get() && goodCert.get() && revokedMsg.get() && goodMsg.get());
    TQXCRYPT_HANDLE *s = shared.get();
    auto verify = [s](TQXCRYPT_HANDLE *m, int flags) {
        return TQXCrypt_Verify(s, m, nullptr, 0, nullptr, 0, flags, 0, nullptr, nullptr);
    };
    const int crl = TQXCRYPT_VERIFY_CRL, chain = TQXCRYPT_VERIFY_CHAIN;
    const Call calls[] = {
        {"revoked signer, CRL checked", [&] { return verify(revokedMsg.get(), crl); },
         TQ_RTN_REVOKED_KEY_COMPROMISE},
        {"revoked signer, chain only", [&] { return verify(revokedMsg.get(), chain); }, TQ_RTN_OK},
        {"good signer, CRL checked", [&] { return verify(goodMsg.get(), crl); }, TQ_RTN_OK},
        {"good signer, chain only", [&] { return verify(goodMsg.get(), chain); }, TQ_RTN_OK},
        {"revoked certificate, CRL checked",
         [&] { return TQXCrypt_VerifyCertChain(revokedCert.get(), s, crl, 0); },
         TQ_RTN_REVOKED_KEY_COMPROMISE},
        {"revoked certificate, no CRL check",
         [&] { return TQXCrypt_VerifyCertChain(revokedCert.get(), s, 0, 0); }, TQ_RTN_OK},
        {"good certificate, CRL checked", [&] { return TQXCrypt_VerifyCertChain(goodCert.get(), s, crl, 0); },
         TQ_RTN_OK},
    };
    constexpr size_t kCalls = sizeof calls / sizeof calls[0];
    // Each alone first: the table itself must hold before threads mix it.
    for (const Call &c : calls) ASSERT_EQ(c.run(), c.expected) << c.what;

    constexpr int kThreads = 8, kRounds = 300;
    std::atomic<int> ready{0};
    std::vector<std::atomic<int>> wrong(kCalls);
    std::mutex firstLock;
    std::vector<int> firstWrong(kCalls, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ++ready;
            while (ready.load() < kThreads) std::this_thread::yield();
            // Neighbouring threads run different calls at the same moment.
            for (int round = 0; round < kRounds; ++round) {
                const size_t k = static_cast<size_t>(t + round) % kCalls;
                const int rc = calls[k].run();
                if (rc == calls[k].expected) continue;
                if (wrong[k]++ == 0) {
                    std::lock_guard<std::mutex> hold(firstLock);
                    firstWrong[k] = rc;
                }
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    for (size_t k = 0; k < kCalls; ++k)
        EXPECT_EQ(wrong[k].load(), 0) << calls[k].what << ": first wrong answer " << firstWrong[k];
}
