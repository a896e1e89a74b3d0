/* Machine-dependent JNI types for 32-bit Windows. The natives are __stdcall;
   they are exported by the module-definition file under their decorated
   names alone, so JNIEXPORT adds no export of its own. */
#ifndef CARDPROBE_WIN32_JNI_MD_H
#define CARDPROBE_WIN32_JNI_MD_H

#define JNIEXPORT
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef long long jlong;
typedef signed char jbyte;

#endif
