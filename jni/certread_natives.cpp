// Natives reading a certificate: names, validity, serial, fingerprints, public
// key and key usage.
#include "jni_internal.h"
#include "tqxcrypt_keys.h"
#include "tqxcrypt_x509.h"

extern "C" {

TQ_FORMATTED_BLOB_READER(XCertGetSerialNumberX, TQXCrypt_CertGetSerialNumber)
TQ_TEXT_READER(XCertGetSubjectX, TQXCrypt_CertGetSubject)
TQ_TEXT_READER(XCertGetIssuerX, TQXCrypt_CertGetIssuer)
TQ_TIME_READER(XCertGetNotBeforeX, TQXCrypt_CertGetNotBefore)
TQ_TIME_READER(XCertGetNotAfterX, TQXCrypt_CertGetNotAfter)
TQ_FORMATTED_BLOB_READER(XCertGetDigestX, TQXCrypt_CertGetDigest)
TQ_HANDLE_READER(XCertGetPublicKeyX, TQXCrypt_CertGetPublicKey)
TQ_COUNT_READER(XCertGetKeyUsagesX, TQXCrypt_CertGetKeyUsage)
TQ_TEXT_READER(XCertGetExtensionX, TQXCrypt_CertGetKDRAExtension)

}  // extern "C"
