// Once-per-process start-up of OpenSSL, the process-wide switches and the
// debug channel.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <atomic>
#include <mutex>

#include <unistd.h>

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/provider.h>
#include <openssl/rand.h>

#include "base_internal.h"

extern "C" {
int NID_ms_scard_logon = 0;
int NID_szOID_SUBJECT_DIR_ATTRS = 0;
int NID_szTailOfCitizenID = 0;
int NID_szSUBJECTTYPE = 0;
int NID_szORGANIZATIONID = 0;
int NID_szCardRank = 0;
int NID_szEntityOID = 0;
int NID_szEmail = 0;
int NID_szOID_SUBJECT_DIR_ATTRS_NA = 0;
}

namespace {

std::mutex g_initLock;
std::atomic<int> tqcryptinit{0};
bool g_providersLoaded = false;
OSSL_PROVIDER *g_defaultProvider = nullptr;
OSSL_PROVIDER *g_legacyProvider = nullptr;

// Our provider references go back when the process ends, before OpenSSL's
// own clean-up (registered earlier, so it runs later).
void unloadProviders() {
    if (g_legacyProvider) OSSL_PROVIDER_unload(g_legacyProvider);
    if (g_defaultProvider) OSSL_PROVIDER_unload(g_defaultProvider);
    g_legacyProvider = g_defaultProvider = nullptr;
}
int chk_keyusage = 1;
int g_bShowDebug = 0;

struct ExtraObject {
    int *nid;
    const char *dotted;
    const char *shortName;
    const char *longName;
};

// Identifiers OpenSSL may know already keep OpenSSL's number: 3.0 refuses
// to create an identifier or a name twice.
const ExtraObject kExtraObjects[] = {
    {&NID_ms_scard_logon, "1.3.6.1.4.1.311.20.2.2", "msSmartcardLogin", "Microsoft Smartcardlogin"},
    {&NID_szOID_SUBJECT_DIR_ATTRS, "2.5.29.9", "subjectDirectoryAttributes",
     "X509v3 Subject Directory Attributes"},
    {&NID_szTailOfCitizenID, "2.16.886.1.100.2.51", nullptr, nullptr},
    {&NID_szSUBJECTTYPE, "2.16.886.1.100.2.1", nullptr, nullptr},
    {&NID_szORGANIZATIONID, "2.16.886.1.100.2.101", nullptr, nullptr},
    {&NID_szCardRank, "2.16.886.1.100.2.2", nullptr, nullptr},
    {&NID_szEntityOID, "2.16.886.1.100.2.102", nullptr, nullptr},
    {&NID_szEmail, "1.2.840.113549.1.9.1", "Email", "emailAddress"},
};

int objectNid(const ExtraObject &o) {
    int nid = OBJ_txt2nid(o.dotted);
    if (nid != NID_undef) return nid;
    const char *sn = o.shortName ? o.shortName : o.dotted;
    const char *ln = o.longName ? o.longName : o.dotted;
    nid = OBJ_create(o.dotted, sn, ln);
    return nid == NID_undef ? 0 : nid;
}

void seedRandom() {
    std::srand(static_cast<unsigned>(std::time(nullptr)) | static_cast<unsigned>(getpid()));
    unsigned char seed[256] = {0};
    for (unsigned char &b : seed) b |= static_cast<unsigned char>(std::rand() & 0xFF);
    RAND_seed(seed, sizeof seed);
    tq::wipe(seed, sizeof seed);
}

// Alias names registered with a digest or cipher, by its type number.
struct Aliases {
    int type;
    const char *name;
    const char *aliases[5];
};

const Aliases kDigestAliases[] = {
    {NID_md5, "MD5", {"ssl2-md5", "ssl3-md5"}},
    {NID_sha1, "SHA1", {"ssl3-sha1"}},
    {NID_sha1, "RSA-SHA1", {"RSA-SHA1-2"}},
    // The DSA-with-SHA-1 digest carries the DSA key's number as its type.
    {NID_dsa, "DSA-SHA1", {"DSA-SHA1-old", "DSS1", "dss1"}},
    {NID_ripemd160, "RIPEMD160", {"ripemd", "rmd160"}},
};

const Aliases kCipherAliases[] = {
    {NID_des_cbc, "DES-CBC", {"DES", "des"}},
    {NID_des_ede3_cbc, "DES-EDE3-CBC", {"DES3", "des3"}},
    {NID_desx_cbc, "DESX-CBC", {"DESX", "desx"}},
    {NID_idea_cbc, "IDEA-CBC", {"IDEA", "idea"}},
    {NID_rc2_cbc, "RC2-CBC", {"RC2", "rc2"}},
    {NID_bf_cbc, "BF-CBC", {"BF", "bf", "blowfish"}},
    {NID_cast5_cbc, "CAST5-CBC", {"CAST", "cast", "CAST-cbc", "cast-cbc"}},
    {NID_rc5_cbc, "RC5-CBC", {"rc5", "RC5"}},
};

template <size_t N>
void addAliases(const Aliases (&table)[N], int type, int nameType) {
    for (const Aliases &a : table) {
        if (a.type != type) continue;
        for (const char *alias : a.aliases)
            if (alias) OBJ_NAME_add(alias, OBJ_NAME_ALIAS | nameType, a.name);
    }
}

}  // namespace

extern "C" {

void TQXCryptInitialize(void) try {
    // Every entry point calls this: the flag answers without the lock once set.
    if (tqcryptinit.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lock(g_initLock);
    if (tqcryptinit.load(std::memory_order_relaxed)) return;
    // What loading the providers and creating the identifiers queue is ours.
    tq::ErrorQueueScope scope;
    if (!g_providersLoaded) {
        // Loading one provider switches the implicit default off: load both.
        // Single DES, RC4, RC2 and PBKDF1 live only in the legacy provider.
        g_defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
        g_legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");
        g_providersLoaded = true;
        std::atexit(unloadProviders);
    }
    for (const ExtraObject &o : kExtraObjects) *o.nid = objectNid(o);
    seedRandom();
    tqcryptinit.store(1, std::memory_order_release);
}
TQ_CATCH_VOID

void TQXCryptRelease(void) try {
    std::lock_guard<std::mutex> lock(g_initLock);
    if (!tqcryptinit.load(std::memory_order_relaxed)) return;
    // Providers stay loaded: unloading them under live handles would break them.
    ERR_clear_error();
    tqcryptinit.store(0, std::memory_order_release);
}
TQ_CATCH_VOID

void TQXCryptAddDigest(const EVP_MD *digest) try {
    if (!digest) return;
    EVP_add_digest(digest);
    addAliases(kDigestAliases, EVP_MD_get_type(digest), OBJ_NAME_TYPE_MD_METH);
}
TQ_CATCH_VOID

void TQXCryptAddCipher(const EVP_CIPHER *cipher) try {
    if (!cipher) return;
    EVP_add_cipher(cipher);
    addAliases(kCipherAliases, EVP_CIPHER_get_type(cipher), OBJ_NAME_TYPE_CIPHER_METH);
}
TQ_CATCH_VOID

int TQXCryptCheckKeyUsage(int on) try {
    chk_keyusage = on;
    return on;
}
TQ_CATCH_EMPTY

int tqxCryptCheckKeyUsage(void) try { return chk_keyusage; }
TQ_CATCH_EMPTY

int TQXCryptShowDebugMessage(int on) try {
    g_bShowDebug = on;
    return on;
}
TQ_CATCH_EMPTY

void TQXCryptDebugMessage(const char *format, ...) try {
    if (!g_bShowDebug || !format) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}
TQ_CATCH_VOID

}  // extern "C"
