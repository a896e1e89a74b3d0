// The bounded attribute list of the token layer: what each adder hands the
// module, and a list given more than it holds refused before any module call.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "attributelist.h"
#include "access_internal.h"

namespace {

using tqp11::AttributeList;
using tqp11::Attributes;

std::vector<unsigned char> valueOf(const CK_ATTRIBUTE &a) {
    const auto *p = static_cast<const unsigned char *>(a.pValue);
    return std::vector<unsigned char>(p, p + a.ulValueLen);
}

TEST(p11AttributeList, AddersHandOutWhatTheyWereGiven) {
    unsigned char id[] = {0xA1, 0xB2, 0xC3};
    char label[] = "key label";
    unsigned char buffer[16] = {};
    AttributeList<9> list;
    {
        // Numbers and flag bytes are the list's own copies.
        CK_ULONG keyType = CKK_AES;
        CK_BBOOL oddFlag = 2;
        list.addUlong(CKA_KEY_TYPE, keyType);
        list.addByte(CKA_PRIVATE, oddFlag);
        keyType = CKK_RSA;
        oddFlag = 0;
    }
    list.addBool(CKA_TOKEN, true);
    list.addFlag(CKA_WRAP, 0x5000, 0x1000);
    list.addFlag(CKA_UNWRAP, 0x5000, 0x2000);
    list.addBytes(CKA_ID, TQXP11_BYTES{id, sizeof id});
    list.addText(CKA_LABEL, label, std::strlen(label) + 1);
    list.addBuffer(CKA_VALUE, buffer, sizeof buffer);
    list.addQuery(CKA_MODULUS);
    ASSERT_EQ(list.ready(), static_cast<CK_RV>(CKR_OK));
    ASSERT_EQ(list.size(), 9u);

    CK_ULONG keyType = 0;
    ASSERT_EQ(list[0].ulValueLen, sizeof keyType);
    std::memcpy(&keyType, list[0].pValue, sizeof keyType);
    EXPECT_EQ(keyType, static_cast<CK_ULONG>(CKK_AES));
    EXPECT_EQ(valueOf(list[1]), std::vector<unsigned char>({2}));
    EXPECT_EQ(valueOf(list[2]), std::vector<unsigned char>({CK_TRUE}));
    EXPECT_EQ(valueOf(list[3]), std::vector<unsigned char>({CK_TRUE}));
    EXPECT_EQ(valueOf(list[4]), std::vector<unsigned char>({CK_FALSE}));
    // Byte strings, text and read buffers are the caller's.
    EXPECT_EQ(list[5].pValue, id);
    EXPECT_EQ(list[5].ulValueLen, sizeof id);
    EXPECT_EQ(list[6].pValue, label);
    EXPECT_EQ(list[6].ulValueLen, 10u);
    EXPECT_EQ(list[7].pValue, buffer);
    EXPECT_EQ(list[7].ulValueLen, sizeof buffer);
    EXPECT_EQ(list[8].pValue, nullptr);
    EXPECT_EQ(list[8].ulValueLen, 0u);
    const CK_ATTRIBUTE_TYPE order[] = {CKA_KEY_TYPE, CKA_PRIVATE, CKA_TOKEN, CKA_WRAP,   CKA_UNWRAP,
                                       CKA_ID,       CKA_LABEL,   CKA_VALUE, CKA_MODULUS};
    // The module call is handed the list's own array, whole.
    const CK_RV passed = list.pass([&](CK_ATTRIBUTE_PTR attributes, CK_ULONG count) {
        EXPECT_EQ(attributes, &list[0]);
        EXPECT_EQ(count, 9u);
        for (CK_ULONG i = 0; i < count; ++i) EXPECT_EQ(attributes[i].type, order[i]) << i;
        return CK_RV(CKR_DEVICE_ERROR);
    });
    EXPECT_EQ(passed, static_cast<CK_RV>(CKR_DEVICE_ERROR));

    // A flag set afterwards changes every place that holds it.
    AttributeList<3> flags;
    flags.addBool(CKA_SENSITIVE, false);
    flags.addBool(CKA_WRAP, true);
    flags.addBool(CKA_SENSITIVE, false);
    flags.setBool(CKA_SENSITIVE, true);
    EXPECT_EQ(valueOf(flags[0]), std::vector<unsigned char>({CK_TRUE}));
    EXPECT_EQ(valueOf(flags[1]), std::vector<unsigned char>({CK_TRUE}));
    EXPECT_EQ(valueOf(flags[2]), std::vector<unsigned char>({CK_TRUE}));
}

TEST(p11AttributeList, EveryAdderRefusesPastTheCapacity) {
    unsigned char byte = 7;
    const struct {
        const char *name;
        std::function<void(Attributes &)> add;
    } adders[] = {
        {"bool", [](Attributes &l) { l.addBool(CKA_SIGN, true); }},
        {"byte", [](Attributes &l) { l.addByte(CKA_PRIVATE, 1); }},
        {"flag", [](Attributes &l) { l.addFlag(CKA_WRAP, 0x1000, 0x1000); }},
        {"ulong", [](Attributes &l) { l.addUlong(CKA_VALUE_LEN, 32); }},
        {"bytes", [&](Attributes &l) { l.addBytes(CKA_ID, &byte, 1); }},
        {"text", [](Attributes &l) { l.addText(CKA_LABEL, "x", 1); }},
        {"buffer", [&](Attributes &l) { l.addBuffer(CKA_VALUE, &byte, 1); }},
        {"query", [](Attributes &l) { l.addQuery(CKA_MODULUS); }},
    };
    for (const auto &adder : adders) {
        SCOPED_TRACE(adder.name);
        AttributeList<2> list;
        list.addUlong(CKA_CLASS, CKO_SECRET_KEY);
        adder.add(list);
        ASSERT_EQ(list.ready(), static_cast<CK_RV>(CKR_OK));
        adder.add(list);
        EXPECT_EQ(list.size(), 2u);
        EXPECT_EQ(list.capacity(), 2u);
        EXPECT_EQ(list.ready(), static_cast<CK_RV>(CKR_FUNCTION_FAILED));
        EXPECT_EQ(TQXP11_ErrorCode(list.ready()), TQP11_RTN_FUNCTION_FAILED);
        // What it held stays as it was, and a later change does not mend it.
        CK_ULONG cls = 0;
        std::memcpy(&cls, list[0].pValue, sizeof cls);
        EXPECT_EQ(cls, static_cast<CK_ULONG>(CKO_SECRET_KEY));
        list.setBool(CKA_SIGN, false);
        EXPECT_EQ(list.ready(), static_cast<CK_RV>(CKR_FUNCTION_FAILED));
        // No module call is made with it.
        bool called = false;
        const CK_RV refused = list.pass([&](CK_ATTRIBUTE_PTR, CK_ULONG) {
            called = true;
            return CK_RV(CKR_OK);
        });
        EXPECT_EQ(refused, static_cast<CK_RV>(CKR_FUNCTION_FAILED));
        EXPECT_FALSE(called);
    }
}

// A module that only counts searches.
int searchesStarted = 0;
CK_RV countSearch(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR, CK_ULONG) {
    ++searchesStarted;
    return CKR_OK;
}
CK_RV findNothing(CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR, CK_ULONG, CK_ULONG_PTR found) {
    *found = 0;
    return CKR_OK;
}
CK_RV endSearch(CK_SESSION_HANDLE) { return CKR_OK; }

TEST(p11AttributeList, AnOverfilledSearchNeverReachesTheModule) {
    TQXP11_MODULE module{};
    module.C_FindObjectsInit = countSearch;
    module.C_FindObjects = findNothing;
    module.C_FindObjectsFinal = endSearch;
    TQXP11_SESSION session{};
    session.module = &module;
    CK_OBJECT_HANDLE handles[tqp11::kSearchMax];
    CK_ULONG found = 7;

    AttributeList<1> fits;
    fits.addBool(CKA_TOKEN, true);
    searchesStarted = 0;
    EXPECT_EQ(tqp11::findObjects(&session, handles, fits, &found), static_cast<CK_RV>(CKR_OK));
    EXPECT_EQ(searchesStarted, 1);

    AttributeList<1> overfilled;
    overfilled.addBool(CKA_TOKEN, true);
    overfilled.addUlong(CKA_CLASS, CKO_DATA);
    searchesStarted = 0;
    EXPECT_EQ(tqp11::findObjects(&session, handles, overfilled, &found),
              static_cast<CK_RV>(CKR_FUNCTION_FAILED));
    EXPECT_EQ(found, 0u);
    CK_OBJECT_HANDLE one = 0;
    EXPECT_EQ(tqp11::findOne(&session, overfilled, &one), static_cast<CK_RV>(CKR_FUNCTION_FAILED));
    EXPECT_EQ(searchesStarted, 0);
}

}  // namespace
