// Data objects named by label, as pkcs11-tool writes and reads them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "bridge_token.h"
#include "tqp11secret.h"

namespace {

using namespace bridgetest;

class DataObjects : public TokenKeys {
protected:
    Bytes readData(const std::string &label, int isPrivate, int expected = 0) {
        unsigned char *value = reinterpret_cast<unsigned char *>(1);
        CK_ULONG length = 99;
        EXPECT_EQ(TQP11_ReadDataObject(&session, label.c_str(), isPrivate, 0, &value, &length), expected)
            << label;
        if (expected != 0) {
            EXPECT_EQ(value, nullptr);
            return Bytes();
        }
        EXPECT_NE(value, nullptr);
        if (!value) return Bytes();
        EXPECT_EQ(value[length], 0) << "NUL after the value";
        Bytes b(value, value + length);
        std::free(value);
        return b;
    }
};

TEST_F(DataObjects, WrittenObjectsAreThePeersAndThePeersOursToRead) {
    struct Case {
        const char *label;
        int isPrivate;
        size_t length;
    } cases[] = {{"public data", 0, 100}, {"private data", 1, 3000}, {"one byte", 1, 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        const Bytes value = tqtest::randomBytes(c.length, static_cast<uint32_t>(c.length));
        ASSERT_EQ(TQP11_WriteDataObject(&session, c.label, c.isPrivate, value.data(), value.size(), 0), 0);
        const std::string out = token.file(std::string(c.label) + ".out");
        peer("--read-object --type data --label '" + std::string(c.label) + "' -o '" + out + "'");
        EXPECT_EQ(tqtest::readFile(out), value);
        EXPECT_EQ(readData(c.label, c.isPrivate), value);
        EXPECT_EQ(TQP11_WriteDataObject(&session, c.label, c.isPrivate, value.data(), value.size(), 0),
                  TQP11_RTN_OBJECT_EXIST);
        // The private flag is part of the name.
        readData(c.label, !c.isPrivate, TQP11_RTN_OBJECT_NOT_EXIST);
    }
    const std::string listing = peer("-O --type data");
    for (size_t at = listing.find("application:"); at != std::string::npos;
         at = listing.find("application:", at + 1))
        EXPECT_EQ(listing.compare(listing.find_first_not_of(' ', at + 12), 12, "'Orvane-P11'"), 0) << listing;
    EXPECT_NE(listing.find("private data"), std::string::npos) << listing;

    // What pkcs11-tool wrote, text included.
    const std::string text = "written by the peer";
    const std::string in = file("peer.txt", Bytes(text.begin(), text.end()));
    peer("--write-object '" + in + "' --type data --label 'peer data' --private");
    EXPECT_EQ(readData("peer data", 1), Bytes(text.begin(), text.end()));
}

TEST_F(DataObjects, LabelsAreTheirFirst255CharactersAndBadArgumentsAreRefused) {
    const std::string longLabel = std::string(255, 'd') + "-and-more";
    const Bytes value = {1, 2, 3};
    ASSERT_EQ(TQP11_WriteDataObject(&session, longLabel.c_str(), 0, value.data(), value.size(), 0), 0);
    EXPECT_EQ(readData(std::string(255, 'd'), 0), value);
    EXPECT_EQ(shim::state().labelLengths.back(), 255u);

    unsigned char *out = nullptr;
    CK_ULONG length = 0;
    EXPECT_EQ(TQP11_WriteDataObject(nullptr, "x", 0, value.data(), 3, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQP11_WriteDataObject(&session, nullptr, 0, value.data(), 3, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQP11_WriteDataObject(&session, "x", 0, nullptr, 3, 0), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQP11_ReadDataObject(&session, "x", 0, 0, nullptr, &length), TQ_RTN_BAD_ARGUMENT);
    EXPECT_EQ(TQP11_ReadDataObject(&session, nullptr, 0, 0, &out, &length), TQ_RTN_BAD_ARGUMENT);
    // Without a login, private objects stay out of reach.
    ASSERT_EQ(TQXP11_Logout(&session), 0);
    EXPECT_EQ(TQP11_WriteDataObject(&session, "late", 1, value.data(), 3, 0), TQP11_RTN_USER_NOT_LOGGED_IN);
    readData("late", 1, TQP11_RTN_USER_NOT_LOGGED_IN);
}

}  // namespace
