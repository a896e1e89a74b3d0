// The builders and field helpers in a JVM started through the invocation API,
// with the JVM's JNI checks on: attribute lists from a certificate the
// openssl tool made, and hand-made lists for the edge cases.
#include <gtest/gtest.h>
#include <jni.h>

#include <cstring>
#include <string>
#include <vector>

#include "com_vandrelot_crypto_WKP11Crypt.h"
#include "jni_jvm.h"
#include "testutil.h"
#include "tq_codes.h"
#include "tqjni.h"
#include "tqxcrypt_x509.h"

extern "C" JNIEXPORT jstring JNICALL
Java_com_vandrelot_crypto_WKP11Crypt_Encode___3BLjava_lang_String_2(JNIEnv *, jobject, jbyteArray, jstring);

namespace {

JNIEnv *env_ = nullptr;

const auto *const jvm_ = ::testing::AddGlobalTestEnvironment(new tqtest::JvmEnvironment(&env_));

std::u16string javaText(jstring s) {
    if (!s) return u"<null>";
    const jchar *chars = env_->GetStringChars(s, nullptr);
    std::u16string out(reinterpret_cast<const char16_t *>(chars), env_->GetStringLength(s));
    env_->ReleaseStringChars(s, chars);
    return out;
}

jobject field(jobject object, const char *name, const char *type) {
    jclass cls = env_->GetObjectClass(object);
    jfieldID id = env_->GetFieldID(cls, name, type);
    env_->DeleteLocalRef(cls);
    EXPECT_NE(id, nullptr) << name;
    return id ? env_->GetObjectField(object, id) : nullptr;
}

// The attributes of an X509Name or X509GeneralName: name and value objects.
struct Attribute {
    std::u16string name;
    jobject value;  // a String, an X509Name, or null
};
std::vector<Attribute> attributesOf(jobject name, std::vector<bool> *present = nullptr) {
    std::vector<Attribute> out;
    auto array = static_cast<jobjectArray>(field(name, "attributes", "[Lcom/tq/pki/X509Attribute;"));
    if (!array) return out;
    for (jsize i = 0; i < env_->GetArrayLength(array); ++i) {
        jobject a = env_->GetObjectArrayElement(array, i);
        if (present) present->push_back(a != nullptr);
        if (!a) continue;
        auto n = static_cast<jstring>(field(a, "name", "Ljava/lang/String;"));
        out.push_back({javaText(n), field(a, "value", "Ljava/lang/Object;")});
        if (n) env_->DeleteLocalRef(n);
        env_->DeleteLocalRef(a);
    }
    return out;
}

bool isInstance(jobject object, const char *className) {
    jclass cls = env_->FindClass(className);
    const bool yes = object && env_->IsInstanceOf(object, cls);
    env_->DeleteLocalRef(cls);
    return yes;
}

class Builders : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(env_, nullptr);
        ASSERT_EQ(env_->PushLocalFrame(512), 0);
    }
    void TearDown() override {
        EXPECT_FALSE(env_->ExceptionCheck());
        env_->ExceptionClear();
        env_->PopLocalFrame(nullptr);
    }
};

TEST_F(Builders, GeneralNamesOfAnOpensslCertificate) {
    tqtest::HandleOwner cert(tqtest::decodeFixture(1, "x509/ext.full.pem", 0x2000));
    TQXCRYPT_ATTRIBUTES names = {0, nullptr};
    int critical = -1;
    ASSERT_EQ(TQXCrypt_CertGetExtension(cert.get(), "subjectAltName", 0, &names, &critical), TQ_RTN_OK);
    jobject general = NewX509GeneralName(env_, &names);
    TQXCryptFreeAttributes(&names);
    ASSERT_TRUE(isInstance(general, "com/tq/pki/X509GeneralName"));
    const std::vector<Attribute> got = attributesOf(general);
    ASSERT_EQ(got.size(), 8u);
    EXPECT_EQ(got[0].name, u"Email");
    EXPECT_EQ(javaText(static_cast<jstring>(got[0].value)), u"user@example.org");
    EXPECT_EQ(got[1].name, u"DNS");
    EXPECT_EQ(javaText(static_cast<jstring>(got[1].value)), u"www.example.org");
    EXPECT_EQ(got[2].name, u"URI");
    EXPECT_EQ(got[3].name, u"IP Address");
    EXPECT_EQ(javaText(static_cast<jstring>(got[3].value)), u"10.0.0.1");
    EXPECT_EQ(got[7].name, u"DirName");
    ASSERT_TRUE(isInstance(got[7].value, "com/tq/pki/X509Name"));
    const std::vector<Attribute> dir = attributesOf(got[7].value);
    ASSERT_EQ(dir.size(), 3u);
    EXPECT_EQ(dir[2].name, u"CN");
    EXPECT_EQ(javaText(static_cast<jstring>(dir[2].value)), u"Dir Name");
}

// Hand-made items: the core's lists hold standard UTF-8 and anything a
// certificate carries.
TQXCRYPT_ATTRIBUTE text(const char *name, const char *value) {
    TQXCRYPT_ATTRIBUTE a{};
    a.isList = 0;
    a.name = const_cast<char *>(name);
    a.value.blob.data = reinterpret_cast<unsigned char *>(const_cast<char *>(value));
    a.value.blob.length = value ? std::strlen(value) : 0;
    return a;
}

TQXCRYPT_ATTRIBUTE nested(const char *name, TQXCRYPT_ATTRIBUTES *list) {
    TQXCRYPT_ATTRIBUTE a{};
    a.isList = 1;
    a.name = const_cast<char *>(name);
    a.value.list = *list;
    return a;
}

TEST_F(Builders, NamesAsStandardUtf8) {
    TQXCRYPT_ATTRIBUTE items[] = {
        text("CN", "Zo\xC3\xAB \xF0\x9D\x84\x9E"),  // a 4-byte sequence: a surrogate pair in Java
        text("O", "\xFF\x80ok\xE6\xB8"),            // bytes that start no valid sequence
        text("OU", "\xC0\x80x"),                    // overlong NUL is no valid sequence either
        text(nullptr, nullptr),
    };
    TQXCRYPT_ATTRIBUTES list = {4, items};
    jobject name = NewX509Name(env_, &list);
    ASSERT_TRUE(isInstance(name, "com/tq/pki/X509Name"));
    const std::vector<Attribute> got = attributesOf(name);
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(javaText(static_cast<jstring>(got[0].value)), u"Zo\u00EB \U0001D11E");
    EXPECT_EQ(javaText(static_cast<jstring>(got[1].value)), u"\uFFFD\uFFFDok\uFFFD\uFFFD");
    EXPECT_EQ(javaText(static_cast<jstring>(got[2].value)), u"\uFFFD\uFFFDx");
    EXPECT_EQ(got[3].name, u"<null>");
    EXPECT_EQ(got[3].value, nullptr);
}

TEST_F(Builders, NestedListsKeepTheirPlaces) {
    TQXCRYPT_ATTRIBUTE inner[] = {text("CN", "Inner")};
    TQXCRYPT_ATTRIBUTES innerList = {1, inner};
    TQXCRYPT_ATTRIBUTE items[] = {
        text("DNS", "a.example.org"),
        nested("Other", &innerList),  // not a directory name: no Java form
        nested("DirName", &innerList),
        text("URI", "http://x/"),
    };
    TQXCRYPT_ATTRIBUTES list = {4, items};
    std::vector<bool> present;
    const std::vector<Attribute> general = attributesOf(NewX509GeneralName(env_, &list), &present);
    EXPECT_EQ(present, (std::vector<bool>{true, false, true, true}));
    ASSERT_EQ(general.size(), 3u);
    EXPECT_EQ(general[1].name, u"DirName");
    EXPECT_EQ(attributesOf(general[1].value).at(0).name, u"CN");
    // A plain name has no directory names.
    present.clear();
    attributesOf(NewX509Name(env_, &list), &present);
    EXPECT_EQ(present, (std::vector<bool>{true, false, false, true}));
}

// More items than the JVM's guaranteed local references.
TEST_F(Builders, LongListsWithinTheLocalReferences) {
    std::vector<std::string> values(300);
    std::vector<TQXCRYPT_ATTRIBUTE> items;
    for (size_t i = 0; i < values.size(); ++i) {
        values[i] = "v" + std::to_string(i);
        items.push_back(text("CN", values[i].c_str()));
    }
    TQXCRYPT_ATTRIBUTES list = {static_cast<int32_t>(items.size()), items.data()};
    env_->PopLocalFrame(nullptr);
    ASSERT_EQ(env_->PushLocalFrame(16), 0);
    jobject name = NewX509Name(env_, &list);
    ASSERT_NE(name, nullptr);
    ASSERT_EQ(env_->PushLocalFrame(512), 0);
    const std::vector<Attribute> got = attributesOf(name);
    ASSERT_EQ(got.size(), 300u);
    EXPECT_EQ(javaText(static_cast<jstring>(got[299].value)), u"v299");
    env_->PopLocalFrame(nullptr);
    TQXCRYPT_ATTRIBUTES empty = {0, nullptr};
    EXPECT_EQ(attributesOf(NewX509Name(env_, &empty)).size(), 0u);
}

TEST_F(Builders, FieldHelpersOnAClassWithoutTheFields) {
    jclass objectClass = env_->FindClass("java/lang/Object");
    jobject plain = env_->AllocObject(objectClass);
    EXPECT_EQ(SetInteger(env_, plain, "ErrorCode", 5), -1);
    EXPECT_EQ(GetInteger(env_, plain, "ErrorCode"), 0);
    EXPECT_EQ(SetLong(env_, plain, "hSignerCert", 5), -1);
    EXPECT_EQ(GetLong(env_, plain, "hSignerCert"), 0);
    EXPECT_EQ(SetString(env_, plain, "strSignerInfo", "x"), -1);
    EXPECT_EQ(GetString(env_, plain, "strSignerInfo"), nullptr);
    EXPECT_FALSE(env_->ExceptionCheck());
    // A native still answers with its result.
    const jbyte bytes[] = {1, 2, 3};
    jbyteArray data = env_->NewByteArray(3);
    env_->SetByteArrayRegion(data, 0, 3, bytes);
    EXPECT_EQ(javaText(Java_com_vandrelot_crypto_WKP11Crypt_Encode___3BLjava_lang_String_2(env_, plain, data,
                                                                                           nullptr)),
              u"AQID\n");
}

TEST_F(Builders, FieldHelpersOnTheClass) {
    jclass cls = env_->FindClass("com/vandrelot/crypto/WKP11Crypt");
    ASSERT_NE(cls, nullptr);
    jobject o = env_->AllocObject(cls);
    EXPECT_EQ(SetInteger(env_, o, "ErrorCode", 5005), 0);
    EXPECT_EQ(GetInteger(env_, o, "ErrorCode"), 5005);
    EXPECT_EQ(SetLong(env_, o, "hSignerInfo", 0x123456789LL), 0);
    EXPECT_EQ(GetLong(env_, o, "hSignerInfo"), 0x123456789LL);
    EXPECT_EQ(SetString(env_, o, "strSignerCert", "\xF0\x9F\x98\x80 \xFF"), 0);
    EXPECT_EQ(javaText(GetString(env_, o, "strSignerCert")), u"\U0001F600 \uFFFD");
    EXPECT_EQ(SetString(env_, o, "strSignerCert", nullptr), 0);
    EXPECT_EQ(GetString(env_, o, "strSignerCert"), nullptr);
    // A wrong type is no such field.
    EXPECT_EQ(SetInteger(env_, o, "hSignerInfo", 1), -1);
    EXPECT_EQ(GetLong(env_, o, "hSignerInfo"), 0x123456789LL);
}

TEST_F(Builders, ObjectsByClassAndSignature) {
    jstring name = env_->NewStringUTF("CN");
    jstring value = env_->NewStringUTF("x");
    jobject a =
        NewObject(env_, "com/tq/pki/X509Attribute", "(Ljava/lang/String;Ljava/lang/Object;)V", name, value);
    ASSERT_TRUE(isInstance(a, "com/tq/pki/X509Attribute"));
    jbyteArray bytes = env_->NewByteArray(2);
    jobject usage = NewObject1(env_, "com/tq/pki/X509KeyUsage", "([BZ)V", bytes, JNI_TRUE);
    ASSERT_TRUE(isInstance(usage, "com/tq/pki/X509KeyUsage"));
    jobject basic = NewObject(env_, "com/tq/pki/X509BasicConstraints", "(ZIZ)V", JNI_TRUE, 3, JNI_FALSE);
    ASSERT_TRUE(isInstance(basic, "com/tq/pki/X509BasicConstraints"));
    // What is not there gives null and leaves the JVM's error to the caller.
    EXPECT_EQ(NewObject(env_, "com/tq/pki/Missing", "()V"), nullptr);
    EXPECT_TRUE(env_->ExceptionCheck());
    env_->ExceptionClear();
    EXPECT_EQ(NewObject1(env_, "com/tq/pki/X509KeyUsage", "(Z)V", nullptr, JNI_FALSE), nullptr);
    EXPECT_TRUE(env_->ExceptionCheck());
    env_->ExceptionClear();
}

}  // namespace
