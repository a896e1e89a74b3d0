// The library's start-up, by the host or by the first operation that needs
// it, leaves the host's error queue as it found it. Each case runs in a child
// of its own, where the library has not started yet: this program never
// starts it itself.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "testutil.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_store.h"

using namespace tqtest;

namespace {

// Runs `call` in a fresh child on the given host queue: the child's exit
// status says whether it found the queue as it left it.
void expectInChild(HostQueue queue, const char *what, const std::function<void()> &call) {
    std::fflush(stdout);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        pushHostQueue(queue);
        call();
        expectHostQueue(queue, what);
        std::fflush(stdout);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what << " (" << nameOf(queue) << ")";
}

}  // namespace

TEST(StartupQueue, FirstInitialisationLeavesTheHostsQueue) {
    const struct {
        const char *what;
        std::function<void()> call;
    } cases[] = {
        {"the host's own first TQXCryptInitialize", [] { TQXCryptInitialize(); }},
        // Handles of these kinds are freed without touching the queue.
        {"a digest that starts the library",
         [] {
             TQXCRYPT_HANDLE *digest = nullptr;
             EXPECT_EQ(TQXCrypt_HashInit(&digest, 4), TQ_RTN_OK);
             TQXCryptFreeHandle(digest);
         }},
        {"a store that starts the library",
         [] {
             TQXCRYPT_HANDLE *store = nullptr;
             EXPECT_EQ(TQXCrypt_LoadStore(&store, nullptr, nullptr), TQ_RTN_OK);
             TQXCryptFreeHandle(store);
         }},
        {"a failing decode that starts the library",
         [] {
             const unsigned char garbage[] = {0x30, 0x03, 0x02, 0x01};
             TQXCRYPT_HANDLE *cert = nullptr;
             EXPECT_EQ(
                 TQXCrypt_DecodeObject(&cert, TQXCRYPT_KIND_CERTIFICATE, garbage, sizeof garbage, 0, nullptr),
                 TQ_RTN_BAD_CERTIFICATE);
         }},
    };
    for (HostQueue queue : kHostQueues)
        for (const auto &c : cases) expectInChild(queue, c.what, c.call);
}
