// What a test sets for the shim PKCS#11 module and what the shim saw. The
// state lives in a small shared library that both the test program and the
// shim load, so the test never holds the shim open itself.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include <p11-kit/pkcs11.h>

namespace shim {

struct Injection {
    CK_RV rv = CKR_OK;
    int skip = 0;   // calls that still pass before the injected answer
    int times = 1;  // answers injected after that
};

struct State {
    // Set by the test.
    bool failGetFunctionList = false;
    bool emptyTokenList = false;
    bool setDeviceError = false;
    CK_ULONG deviceError = 0;
    int zeroModulusReads = 0;
    CK_ULONG loginParts = 2;
    std::map<std::string, Injection> injections;
    std::map<std::string, std::vector<unsigned char>> records;
    // A search that names no class finds the records too, after this many
    // of the module's own objects.
    CK_ULONG recordsAfter = 0;
    // Misreported lengths: slot IDs and handles beyond those written, the
    // answer to a length query by attribute (for that many queries), and
    // lengths added to a read's answer.
    struct QueryAnswer {
        CK_ULONG length = 0;
        int times = 1;
    };
    CK_ULONG extraFound = 0;
    CK_ULONG extraSlots = 0;
    std::map<CK_ATTRIBUTE_TYPE, QueryAnswer> queryAnswers;
    std::map<CK_ATTRIBUTE_TYPE, CK_ULONG> overstatedReads;
    // Values handed out in place of the token's, to length queries and reads
    // alike; and attributes reported unavailable, with the answer of the
    // whole call (CKR_OK for a module that does not say so).
    std::map<CK_ATTRIBUTE_TYPE, std::vector<unsigned char>> substitutes;
    std::map<CK_ATTRIBUTE_TYPE, CK_RV> unavailable;

    // Seen by the shim.
    std::map<std::string, int> calls;
    bool initArgsGiven = false;
    const CK_C_INITIALIZE_ARGS *initArgs = nullptr;
    CK_C_INITIALIZE_ARGS initArgsCopy{};
    CK_ULONG paramLengthOnEntry = 0;
    std::map<CK_SLOT_ID, CK_BYTE> pinFlags;
    bool recordSearchOpen = false;
    std::vector<CK_ULONG> labelLengths;  // CKA_LABEL lengths of the searches
    std::vector<CK_ULONG> idLengths;     // CKA_ID lengths of the searches
    std::vector<CK_ULONG> keyTypeLengths;
    std::vector<CK_ULONG> rc4KeyLengths;                              // asked of RC4 generation
    std::vector<std::pair<CK_ULONG, CK_ULONG>> keyPairTemplateSizes;  // public, private
    // The templates of the calls that make objects, and of the reads, as they came.
    struct Template {
        std::string function;  // "C_GenerateKeyPair" gives two: public, then private
        std::vector<CK_ATTRIBUTE_TYPE> types;
        std::vector<std::vector<unsigned char>> values;
        // The bytes of the attribute; none when the template lacks it.
        std::vector<unsigned char> value(CK_ATTRIBUTE_TYPE type) const;
    };
    std::vector<Template> templates;
};

State &state();
// Records a template the module was given.
void recordTemplate(const char *function, const CK_ATTRIBUTE *attributes, CK_ULONG count);
// The last template of the function (`back` more before it); an empty one
// when there is none.
const State::Template &lastTemplate(const std::string &function, int back = 0);
void reset();
// Counts the call and answers an injected value for it, or CKR_OK.
CK_RV enter(const char *function);
// Answers an attribute read: the substituted and unavailable attributes
// from the state, the others through `read`.
CK_RV answerAttributes(CK_ATTRIBUTE_PTR attributes, CK_ULONG count,
                       const std::function<CK_RV(CK_ATTRIBUTE_PTR, CK_ULONG)> &read);
int calls(const std::string &function);

}  // namespace shim
