#include "bridge_token.h"

#include <cstdlib>

namespace bridgetest {

namespace {

int g_allocationsLeft = -1;
int g_allocations = 0;
void *countedAlloc(size_t n) {
    ++g_allocations;
    if (g_allocationsLeft == 0) return nullptr;
    if (g_allocationsLeft > 0) --g_allocationsLeft;
    return std::malloc(n);
}
void *plainRealloc(void *p, size_t n) { return std::realloc(p, n); }
int g_allowed = 0;

}  // namespace

FailingAllocator::FailingAllocator(int succeeding) {
    g_allocationsLeft = g_allowed = succeeding;
    g_allocations = 0;
    TQCryptSetMemCallBack(countedAlloc, plainRealloc, std::free);
}
FailingAllocator::~FailingAllocator() { TQCryptSetMemCallBack(nullptr, nullptr, nullptr); }
bool FailingAllocator::failed() const { return g_allocations > g_allowed; }

void TokenKeys::importPair(const std::string &pem, const std::string &label, const std::string &idHex) {
    const std::string pkcs8 = token.file("import" + std::to_string(++files_) + ".p8.pem");
    sh("openssl pkcs8 -topk8 -nocrypt -in '" + pem + "' -out '" + pkcs8 + "'");
    int status = -1;
    std::string log = token.util("--import '" + pkcs8 + "' --token '" + token.label() + "' --label '" +
                                     label + "' --id " + idHex + " --pin " + token.userPin(),
                                 &status);
    ASSERT_EQ(status, 0) << log;
}

void TokenKeys::writeOne(const std::string &pem, const std::string &type, const std::string &label,
                         const std::string &idHex) {
    const std::string der = token.file("write" + std::to_string(++files_) + ".der");
    sh(type == "pubkey" ? "openssl rsa -in '" + pem + "' -pubout -outform DER -out '" + der + "' 2>/dev/null"
                        : "openssl pkcs8 -topk8 -nocrypt -in '" + pem + "' -outform DER -out '" + der + "'");
    peer("--write-object '" + der + "' --type " + type + " --label '" + label + "' --id " + idHex);
}

std::string TokenKeys::file(const std::string &name, const Bytes &content) {
    std::string path = token.file(name);
    tqtest::writeFile(path, content);
    return path;
}

}  // namespace bridgetest
