// Slots, sessions, logins, PINs, token formatting, the vendor PIN flag and
// retry counters, and the bank login, against SoftHSM2 (through the shim
// where a vendor's module is needed).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "shim_state.h"
#include "softtoken.h"

namespace {

using p11test::SoftToken;

class p11Token : public ::testing::Test {
protected:
    void SetUp() override {
        shim::reset();
        ASSERT_EQ(p11test::loadOn(&context, module(), token.label()), TQP11_RTN_OK);
    }
    void TearDown() override {
        for (TQXP11_SESSION *s : {&session, &other})
            if (s->module) TQXP11_SessionClose(s);
        if (context.module) TQXP11_Final(&context);
    }
    virtual const char *module() const { return TQ_SOFTHSM_MODULE; }
    void open(TQXP11_SESSION *s, int readWrite = 1) {
        ASSERT_EQ(TQXP11_SessionOpenEx(&context, s, readWrite), TQP11_RTN_OK);
    }

    SoftToken token;
    TQXP11_CONTEXT context{};
    TQXP11_SESSION session{};
    TQXP11_SESSION other{};
};

class p11ShimToken : public p11Token {
protected:
    const char *module() const override { return TQ_SHIM_MODULE; }
};

TEST_F(p11Token, SlotSelectionAndInformation) {
    CK_ULONG chosen = context.currentSlot;
    EXPECT_EQ(TQXP11_SetCurrentSlot(&context, context.slotCount), TQP11_RTN_SLOT_NOT_FOUND);
    EXPECT_EQ(context.currentSlot, chosen);
    EXPECT_EQ(TQXP11_SetCurrentSlot(&context, context.slotCount - 1), TQP11_RTN_OK);
    EXPECT_EQ(context.currentSlot, context.slotCount - 1);
    ASSERT_EQ(TQXP11_SetCurrentSlot(&context, chosen), TQP11_RTN_OK);
    EXPECT_EQ(TQXP11_SetFlag(&context, 0x55), TQP11_RTN_OK);
    EXPECT_EQ(context.flags, 0x55u);

    CK_ULONG count = 0;
    ASSERT_EQ(TQXP11_GetSlotList(&context, CK_TRUE, nullptr, &count), TQP11_RTN_OK);
    EXPECT_EQ(count, context.slotCount);
    CK_SLOT_INFO *infos = nullptr;
    ASSERT_EQ(TQXP11_GetSlotInfo(&context, &infos), TQP11_RTN_OK);
    ASSERT_NE(infos, nullptr);
    for (CK_ULONG i = 0; i < context.slotCount; ++i) EXPECT_TRUE(infos[i].flags & CKF_TOKEN_PRESENT);
    std::free(infos);
    CK_TOKEN_INFO info;
    ASSERT_EQ(TQXP11_GetTokenInfo(&context, &info), TQP11_RTN_OK);
    EXPECT_EQ(p11test::trimmedLabel(info.label), token.label());
    EXPECT_TRUE(info.flags & CKF_USER_PIN_INITIALIZED);
}

TEST(p11NoModule, EveryOperationAnswersLibraryNotLoaded) {
    TQXP11_CONTEXT context{};
    TQXP11_SESSION session{};
    CK_ULONG count = 0, parts = 0;
    CK_SLOT_INFO *infos = nullptr;
    CK_TOKEN_INFO info;
    CK_BBOOL loggedIn = 1;
    int flag = 0, counter = 7;
    EXPECT_EQ(TQXP11_SetCurrentSlot(&context, 0), TQP11_RTN_SLOT_NOT_FOUND);
    EXPECT_EQ(TQXP11_SetFlag(&context, 1), TQP11_RTN_OK);
    EXPECT_EQ(TQXP11_GetSlotList(&context, CK_TRUE, nullptr, &count), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11_GetSlotInfo(&context, &infos), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11_GetTokenInfo(&context, &info), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11_TokenFormat(&context, "1", "2"), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11_SetGEMPinFlag(&context, 1), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11_GetGEMPinFlag(&context, &flag), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11_SessionOpen(&context, &session), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11_SessionClose(&session), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11_Login(&session, "1"), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11Login(&session, 0x30000, "1"), TQP11_RTN_USER_TYPE_INVALID);
    EXPECT_EQ(TQXP11_LoginInit(&session, &parts, &count), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11_Logout(&session), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11_ChangePin(&session, "1", "2"), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11_InitPIN(&session, "1", "2"), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(TQXP11_GetSessionInfo(&session, &loggedIn), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(loggedIn, 0);
    EXPECT_EQ(TQXP11_GetRetryCounter(&session, TQXP11_LOGIN_USER, &counter), TQP11_RTN_LIBRARY_NOT_LOAD);
    EXPECT_EQ(counter, 0);
}

TEST_F(p11Token, SessionsOpenReadWriteOrReadOnlyAndClose) {
    context.appData = 0xABCD;
    open(&session, 1);
    EXPECT_EQ(session.appData, 0xABCDu);
    EXPECT_EQ(session.sessionInfo.state, CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(session.sessionInfo.slotID, context.slotList[context.currentSlot]);
    open(&other, 0);
    EXPECT_EQ(other.sessionInfo.state, CKS_RO_PUBLIC_SESSION);
    EXPECT_EQ(TQXP11_SessionClose(&other), TQP11_RTN_OK);
    EXPECT_EQ(other.module, nullptr);
    EXPECT_EQ(TQXP11_SessionClose(&other), TQP11_RTN_LIBRARY_NOT_LOAD);

    // A session the module no longer knows is still emptied.
    ASSERT_EQ(context.module->C_CloseSession(session.sessionHandle), CKR_OK);
    EXPECT_EQ(TQXP11_SessionClose(&session), TQP11_RTN_SESSION_HANDLE_INVALID);
    EXPECT_EQ(session.module, nullptr);
    EXPECT_EQ(session.appData, 0u);
}

TEST(p11Slots, SlotInformationReportsTheFirstFailure) {
    shim::reset();
    SoftToken token;
    int status = -1;
    std::string log = token.util("--init-token --free --label second --so-pin 1111 --pin 2222", &status);
    ASSERT_EQ(status, 0) << log;
    TQXP11_CONTEXT context{};
    ASSERT_EQ(TQXP11_Init(&context, TQ_SHIM_MODULE), TQP11_RTN_OK);
    ASSERT_GE(context.slotCount, 2u);
    shim::state().injections["C_GetSlotInfo"] = {CKR_DEVICE_ERROR, 0, 1};
    CK_SLOT_INFO *infos = reinterpret_cast<CK_SLOT_INFO *>(&context);
    EXPECT_EQ(TQXP11_GetSlotInfo(&context, &infos), TQP11_RTN_DEVICE_ERROR);
    EXPECT_EQ(infos, nullptr);
    EXPECT_EQ(shim::calls("C_GetSlotInfo"), static_cast<int>(context.slotCount));
    ASSERT_EQ(TQXP11_GetSlotInfo(&context, &infos), TQP11_RTN_OK);
    std::free(infos);
    EXPECT_EQ(TQXP11_Final(&context), TQP11_RTN_OK);
}

TEST_F(p11ShimToken, SlotListWithoutTokens) {
    shim::state().emptyTokenList = true;
    CK_ULONG count = 99;
    EXPECT_EQ(TQXP11_GetSlotList(&context, CK_TRUE, nullptr, &count), TQP11_RTN_TOKEN_NOT_PRESENT);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(TQXP11_GetSlotList(&context, CK_FALSE, nullptr, &count), TQP11_RTN_OK);
    EXPECT_GE(count, 1u);
}

TEST_F(p11ShimToken, SessionWhoseInformationFailsIsClosedAgain) {
    shim::state().injections["C_GetSessionInfo"] = {CKR_DEVICE_REMOVED, 0, 1};
    EXPECT_EQ(TQXP11_SessionOpen(&context, &session), TQP11_RTN_DEVICE_REMOVED);
    EXPECT_EQ(session.module, nullptr);
    EXPECT_EQ(shim::calls("C_OpenSession"), 1);
    EXPECT_EQ(shim::calls("C_CloseSession"), 1);
}

TEST_F(p11Token, UserAndSecurityOfficerLogins) {
    open(&session);
    EXPECT_EQ(TQXP11_Login(&session, "000000"), TQP11_RTN_PIN_INCORRECT);
    // No PIN goes to the module as none; SoftHSM2 has no PIN pad and refuses.
    EXPECT_EQ(TQXP11_Login(&session, nullptr), TQP11_RTN_ARGUMENTS_BAD);
    ASSERT_EQ(TQXP11_Login(&session, token.userPin().c_str()), TQP11_RTN_OK);
    EXPECT_EQ(session.sessionInfo.state, CKS_RW_USER_FUNCTIONS);
    CK_BBOOL loggedIn = 0;
    EXPECT_EQ(TQXP11_GetSessionInfo(&session, &loggedIn), TQP11_RTN_OK);
    EXPECT_EQ(loggedIn, 1);
    ASSERT_EQ(TQXP11_Logout(&session), TQP11_RTN_OK);
    EXPECT_EQ(session.sessionInfo.state, CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(TQXP11_GetSessionInfo(&session, &loggedIn), TQP11_RTN_OK);
    EXPECT_EQ(loggedIn, 0);

    EXPECT_EQ(TQXP11Login(&session, 0x30000, token.userPin().c_str()), TQP11_RTN_USER_TYPE_INVALID);
    ASSERT_EQ(TQXP11Login(&session, TQXP11_LOGIN_SO, token.soPin().c_str()), TQP11_RTN_OK);
    EXPECT_EQ(session.sessionInfo.state, CKS_RW_SO_FUNCTIONS);
    ASSERT_EQ(TQXP11_Logout(&session), TQP11_RTN_OK);
    ASSERT_EQ(TQXP11Login(&session, TQXP11_LOGIN_USER, token.userPin().c_str()), TQP11_RTN_OK);
    EXPECT_EQ(session.sessionInfo.state, CKS_RW_USER_FUNCTIONS);
    EXPECT_EQ(TQXP11_SOLogin(&session, token.soPin().c_str()), TQP11_RTN_USER_ANOTHER_ALREADY_LOGGED_IN);
}

TEST_F(p11Token, AlreadyLoggedInRefreshesTheSessionState) {
    open(&session);
    open(&other);
    ASSERT_EQ(TQXP11_Login(&session, token.userPin().c_str()), TQP11_RTN_OK);
    EXPECT_EQ(other.sessionInfo.state, CKS_RW_PUBLIC_SESSION);
    EXPECT_EQ(TQXP11_Login(&other, token.userPin().c_str()), TQP11_RTN_USER_ALREADY_LOGGED_IN);
    EXPECT_EQ(other.sessionInfo.state, CKS_RW_USER_FUNCTIONS);

    // Private objects are now reachable through the second session.
    unsigned char bytes[] = {1, 2, 3};
    TQXP11_VALUE value{};
    value.data.value = {bytes, sizeof bytes};
    TQXP11_OBJECT object{};
    std::snprintf(object.label, sizeof object.label, "secret note");
    object.kind = TQXP11_KIND_DATA;
    object.isPrivate = CK_TRUE;
    object.valueRecord = &value;
    ASSERT_EQ(TQXP11_WriteObject(&session, &object, 0), TQP11_RTN_OK);
    TQXP11_OBJECT read{};
    std::snprintf(read.label, sizeof read.label, "secret note");
    read.kind = TQXP11_KIND_DATA;
    read.isPrivate = CK_TRUE;
    ASSERT_EQ(TQXP11_ReadObject(&other, &read), TQP11_RTN_OK);
    EXPECT_EQ(p11test::bytesOf(read.valueRecord->data.value), tqtest::Bytes(bytes, bytes + 3));
    TQXP11_FreeObject(&read);
}

TEST_F(p11ShimToken, LoginInSeveralSteps) {
    open(&session);
    CK_ULONG parts = 0, second = 99;
    ASSERT_EQ(TQXP11_LoginInit(&session, &parts, &second), TQP11_RTN_OK);
    EXPECT_EQ(parts, 2u);
    EXPECT_EQ(TQXP11_LoginUpdate(&session, nullptr, &parts), TQP11_RTN_ARGUMENTS_BAD);
    ASSERT_EQ(TQXP11_LoginUpdate(&session, token.userPin().substr(0, 2).c_str(), &parts), TQP11_RTN_OK);
    EXPECT_EQ(parts, 1u);
    ASSERT_EQ(TQXP11_LoginUpdate(&session, token.userPin().substr(2).c_str(), &parts), TQP11_RTN_OK);
    EXPECT_EQ(parts, 0u);
    ASSERT_EQ(TQXP11_LoginFinal(&session), TQP11_RTN_OK);
    EXPECT_EQ(session.sessionInfo.state, CKS_RW_USER_FUNCTIONS);
    ASSERT_EQ(TQXP11_Logout(&session), TQP11_RTN_OK);

    ASSERT_EQ(TQXP11_LoginInit(&session, &parts, &second), TQP11_RTN_OK);
    ASSERT_EQ(TQXP11_LoginUpdate(&session, "12", &parts), TQP11_RTN_OK);
    ASSERT_EQ(TQXP11_LoginUpdate(&session, "9999", &parts), TQP11_RTN_OK);
    EXPECT_EQ(TQXP11_LoginFinal(&session), TQP11_RTN_PIN_INCORRECT);
    EXPECT_EQ(session.sessionInfo.state, CKS_RW_PUBLIC_SESSION);
}

TEST_F(p11Token, ChangePins) {
    open(&session);
    ASSERT_EQ(TQXP11_Login(&session, token.userPin().c_str()), TQP11_RTN_OK);
    ASSERT_EQ(TQXP11_ChangePin(&session, token.userPin().c_str(), "24682468"), TQP11_RTN_OK);
    EXPECT_EQ(TQXP11_ChangePin(&session, nullptr, "13571357"), TQP11_RTN_ARGUMENTS_BAD);
    ASSERT_EQ(TQXP11_Logout(&session), TQP11_RTN_OK);
    EXPECT_EQ(TQXP11_Login(&session, token.userPin().c_str()), TQP11_RTN_PIN_INCORRECT);
    ASSERT_EQ(TQXP11_Login(&session, "24682468"), TQP11_RTN_OK);
    ASSERT_EQ(TQXP11_Logout(&session), TQP11_RTN_OK);

    ASSERT_EQ(TQXP11_ChangeSoPin(&session, token.soPin().c_str(), "11223344"), TQP11_RTN_OK);
    EXPECT_EQ(session.sessionInfo.state, CKS_RW_PUBLIC_SESSION);
    ASSERT_EQ(TQXP11_InitPIN(&session, "11223344", "99887766"), TQP11_RTN_OK);
    int status = -1;
    std::string out =
        token.moduleTool("--token-label '" + token.label() + "' --login --pin 99887766 -O", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(TQXP11_SOLogin(&session, token.soPin().c_str()), TQP11_RTN_PIN_INCORRECT);
    EXPECT_EQ(TQXP11_SOLogin(&session, "11223344"), TQP11_RTN_OK);
}

TEST_F(p11ShimToken, WrongSecurityOfficerPinChangesNothing) {
    open(&session);
    EXPECT_EQ(TQXP11_ChangeSoPin(&session, "00000000", "11223344"), TQP11_RTN_PIN_INCORRECT);
    EXPECT_EQ(TQXP11_InitPIN(&session, "00000000", "11223344"), TQP11_RTN_PIN_INCORRECT);
    EXPECT_EQ(shim::calls("C_SetPIN"), 0);
    EXPECT_EQ(shim::calls("C_InitPIN"), 0);
    EXPECT_EQ(shim::calls("C_Logout"), 0);
}

TEST_F(p11Token, FormattingWritesTheBlankPaddedLabel) {
    struct Case {
        const char *label;  // null: the fixed label
        std::string shown;
    } cases[] = {{nullptr, "Net-Orvane"},
                 {"HR", "HR"},
                 {"Forty characters of label, cut after 32", "Forty characters of label, cut a"}};
    for (const Case &c : cases) {
        int rc = c.label ? TQXP11_TokenFormatEx(&context, token.soPin().c_str(), "55555555", c.label)
                         : TQXP11_TokenFormat(&context, token.soPin().c_str(), "55555555");
        ASSERT_EQ(rc, TQP11_RTN_OK);
        CK_TOKEN_INFO info;
        ASSERT_EQ(TQXP11_GetTokenInfo(&context, &info), TQP11_RTN_OK);
        EXPECT_EQ(std::string(reinterpret_cast<const char *>(info.label), 32),
                  c.shown + std::string(32 - c.shown.size(), ' '));
        std::string listed = token.moduleTool("-L");
        EXPECT_NE(listed.find("token label        : " + c.shown + "\n"), std::string::npos) << listed;
        int status = -1;
        std::string out =
            token.moduleTool("--token-label '" + c.shown + "' --login --pin 55555555 -O", &status);
        EXPECT_EQ(status, 0) << out;
    }
    EXPECT_EQ(TQXP11_TokenFormatEx(&context, token.soPin().c_str(), "55555555", nullptr),
              TQP11_RTN_ARGUMENTS_BAD);
    EXPECT_EQ(TQXP11_TokenFormatEx(&context, nullptr, "55555555", "HR"), TQP11_RTN_ARGUMENTS_BAD);
    EXPECT_EQ(TQXP11_TokenFormat(&context, token.soPin().c_str(), nullptr), TQP11_RTN_ARGUMENTS_BAD);
    EXPECT_EQ(TQXP11_TokenFormat(&context, "00000000", "55555555"), TQP11_RTN_PIN_INCORRECT);
}

TEST_F(p11ShimToken, VendorPinFlag) {
    int flag = 0;
    ASSERT_EQ(TQXP11_GetGEMPinFlag(&context, &flag), TQP11_RTN_OK);
    EXPECT_EQ(flag, 0);
    // The module is told the size of the one-byte answer.
    EXPECT_EQ(shim::state().paramLengthOnEntry, 1u);
    ASSERT_EQ(TQXP11_SetGEMPinFlag(&context, 1), TQP11_RTN_OK);
    ASSERT_EQ(TQXP11_GetGEMPinFlag(&context, &flag), TQP11_RTN_OK);
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(TQXP11_SetGEMPinFlag(&context, 0), TQP11_RTN_OK);
    flag = 7;
    ASSERT_EQ(TQXP11_GetGEMPinFlag(&context, &flag), TQP11_RTN_OK);
    EXPECT_EQ(flag, 7);
}

TEST_F(p11ShimToken, RetryCountersComeFromTheDeviceError) {
    open(&session);
    shim::state().setDeviceError = true;
    shim::state().deviceError = 0x0A000005;
    int counter = -1;
    ASSERT_EQ(TQXP11_GetRetryCounter(&session, TQXP11_LOGIN_SO, &counter), TQP11_RTN_OK);
    EXPECT_EQ(counter, 10);
    ASSERT_EQ(TQXP11_GetRetryCounter(&session, TQXP11_LOGIN_USER, &counter), TQP11_RTN_OK);
    EXPECT_EQ(counter, 5);
    ASSERT_EQ(TQXP11_GetRetryCounter(&session, 0, &counter), TQP11_RTN_OK);
    EXPECT_EQ(counter, 0);
    shim::state().injections["C_GetSessionInfo"] = {CKR_SESSION_CLOSED, 0, 1};
    counter = 3;
    EXPECT_EQ(TQXP11_GetRetryCounter(&session, TQXP11_LOGIN_USER, &counter), TQP11_RTN_SESSION_CLOSED);
    EXPECT_EQ(counter, 0);
}

TEST_F(p11Token, BankLogin) {
    open(&session);
    const std::string pin = token.userPin();
    EXPECT_EQ(TQXP11_BankLogin(&session, TQ_BANK_LIBRARY, pin.substr(0, 3).c_str(), "000"),
              TQP11_RTN_PIN_INCORRECT);
    EXPECT_EQ(X_BankLogin, nullptr);
    ASSERT_EQ(TQXP11_BankLogin(&session, TQ_BANK_LIBRARY, pin.substr(0, 3).c_str(), pin.substr(3).c_str()),
              TQP11_RTN_OK);
    CK_BBOOL loggedIn = 0;
    ASSERT_EQ(TQXP11_GetSessionInfo(&session, &loggedIn), TQP11_RTN_OK);
    EXPECT_EQ(loggedIn, 1);

    EXPECT_EQ(TQXP11_BankLogin(&session, nullptr, "1", "2"), TQP11_RTN_LOAD_LIBRARY_FAIL);
    EXPECT_EQ(TQXP11_BankLogin(&session, token.file("none.so").c_str(), "1", "2"),
              TQP11_RTN_LOAD_LIBRARY_FAIL);
    EXPECT_EQ(TQXP11_BankLogin(&session, TQ_SHIM_NOLIST_MODULE, "1", "2"), TQP11_RTN_LOAD_LIBRARY_FAIL);
}

}  // namespace
