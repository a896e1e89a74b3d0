#include "jni_jvm.h"

#include <string>

namespace tqtest {

void JvmEnvironment::SetUp() {
    static JNIEnv *started = nullptr;
    if (!started) {
        std::string classPath = std::string("-Djava.class.path=") + TQ_JNI_CLASSES;
        JavaVMOption options[2];
        options[0].optionString = const_cast<char *>(classPath.c_str());
        options[1].optionString = const_cast<char *>("-Xcheck:jni");
        JavaVMInitArgs args;
        args.version = JNI_VERSION_1_8;
        args.nOptions = 2;
        args.options = options;
        args.ignoreUnrecognized = JNI_FALSE;
        JavaVM *vm = nullptr;
        ASSERT_EQ(JNI_CreateJavaVM(&vm, reinterpret_cast<void **>(&started), &args), JNI_OK);
    }
    *env_ = started;
}

}  // namespace tqtest
