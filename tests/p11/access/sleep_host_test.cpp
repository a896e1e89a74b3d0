// A host program that offers its own Sleep: the layer pauses through it.
#include <gtest/gtest.h>

#include <vector>

#include "shim_state.h"
#include "softtoken.h"

namespace {
std::vector<unsigned int> pauses;
}

extern "C" __attribute__((visibility("default"))) void Sleep(unsigned int milliseconds) {
    pauses.push_back(milliseconds);
}

namespace {

TEST(p11SleepHost, ZeroModulusPausesThroughTheHostsSleep) {
    shim::reset();
    p11test::SoftToken token;
    TQXP11_CONTEXT context{};
    ASSERT_EQ(p11test::loadOn(&context, TQ_SHIM_MODULE, token.label()), TQP11_RTN_OK);
    TQXP11_SESSION session{};
    ASSERT_EQ(TQXP11_SessionOpen(&context, &session), TQP11_RTN_OK);
    ASSERT_EQ(TQXP11_Login(&session, token.userPin().c_str()), TQP11_RTN_OK);
    int status = -1;
    std::string log = token.util("--import '" + tqtest::fixture("objects/user.key.pem") + "' --token '" +
                                     token.label() + "' --label k --id 0A --pin " + token.userPin(),
                                 &status);
    ASSERT_EQ(status, 0) << log;

    shim::state().zeroModulusReads = 1;
    unsigned char id = 0x0A;
    TQXP11_VALUE wanted{};
    wanted.first = {&id, 1};
    TQXP11_OBJECT object{};
    object.kind = TQXP11_KIND_RSA_PRIVATE;
    object.isPrivate = CK_TRUE;
    object.valueRecord = &wanted;
    ASSERT_EQ(TQXP11_ReadRSAPrivateKeyObjectWithCKAID(&session, &object), TQP11_RTN_OK);
    EXPECT_EQ(pauses, std::vector<unsigned int>{1000});
    EXPECT_EQ(object.valueRecord->rsaPrivate.modulus.length, 256u);
    EXPECT_NE(object.valueRecord->rsaPrivate.modulus.data[0], 0);
    TQXP11_FreeObject(&object);
    EXPECT_EQ(TQXP11_SessionClose(&session), TQP11_RTN_OK);
    EXPECT_EQ(TQXP11_Final(&context), TQP11_RTN_OK);
}

}  // namespace
