/* The plain helpers of the Java binding, exported beside the natives. */
#ifndef TQJNI_H
#define TQJNI_H

#include <jni.h>
#include <stdint.h>

#include "tq_api.h"
#include "tqxcrypt_x509.h"

#ifdef __cplusplus
extern "C" {
#endif

TQ_API jstring GetString(JNIEnv *env, jobject object, const char *field);
TQ_API int SetString(JNIEnv *env, jobject object, const char *field, const char *text);
TQ_API jint GetInteger(JNIEnv *env, jobject object, const char *field);
TQ_API int SetInteger(JNIEnv *env, jobject object, const char *field, jint value);
TQ_API jlong GetLong(JNIEnv *env, jobject object, const char *field);
TQ_API int64_t SetLong(JNIEnv *env, jobject object, const char *field, jlong value);
TQ_API jobject NewObject(JNIEnv *env, const char *className, const char *signature, ...);
TQ_API jobject NewObject1(JNIEnv *env, const char *className, const char *signature, jobject argument,
                          jboolean flag);
TQ_API jobject NewX509Name(JNIEnv *env, const TQXCRYPT_ATTRIBUTES *list);
TQ_API jobject NewX509GeneralName(JNIEnv *env, const TQXCRYPT_ATTRIBUTES *list);
TQ_API int bin_to_hex(const unsigned char *data, uint32_t length, char *out, int outSize, char separator);
/* *out comes from the system allocator. */
TQ_API int TripleDESDecrypt(const char *passphrase, const char *cipherText, int algorithm, int flags,
                            unsigned char **out, int *outLength);

#ifdef __cplusplus
}
#endif

#endif
