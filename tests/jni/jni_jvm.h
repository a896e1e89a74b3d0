// The JVM of a test program, started once through the invocation API with
// the test classes and the JVM's JNI checks.
#pragma once

#include <gtest/gtest.h>
#include <jni.h>

namespace tqtest {

class JvmEnvironment : public ::testing::Environment {
public:
    explicit JvmEnvironment(JNIEnv **env) : env_(env) {}
    void SetUp() override;

private:
    JNIEnv **env_;
};

}  // namespace tqtest
