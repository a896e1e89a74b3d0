package com.vandrelot.crypto;

/** The natives of tokencrypt's crypto core as the binding exports them. */
public class WKP11Crypt {
    public int ErrorCode;
    public int iLoginRequired;
    public int ObjectListCount;
    public long pObjectListArray;
    public long hSignerCert;
    public long hSignerInfo;
    public String strSignerInfo;
    public String strSignerCert;

    // Encoding, text codecs and handle release
    public native byte[] XEncodeObjectX(long handle, int kind, int flags);
    public native byte[] XEncodeObjectX(long handle, int kind, int flags, byte[] password);
    public native long XDecodeObjectX(int kind, byte[] data, int flags);
    public native long XDecodeObjectX(int kind, byte[] data, int flags, byte[] password);
    public native String Encode(byte[] data, String label);
    public native String Encode(String data, String label);
    public native byte[] Decode(String text, String labels);
    public native void XFreeHandleX(long handle);

    // Keys, raw RSA and digests
    public native int XCheckKeyUsage(int on);
    public native long XPrivateKeyGetPublicKeyX(long key);
    public native int XCheckKeyPairX(long key1, long key2);
    public native long XCreateRSAPublicKeyX(byte[] modulus, byte[] exponent, int flags);
    public native byte[] XRSAKeyGetModulusX(long key);
    public native byte[] XRSAKeyGetExponentX(long key);
    public native byte[] XPureSignX(long key, byte[] data, int flags);
    public native int XPureVerifyX(long key, byte[] data, byte[] signature, int flags);
    public native byte[] XPrivateEncryptX(long key, byte[] data, int flags);
    public native byte[] XPublicDecryptX(long key, byte[] data, int flags);
    public native byte[] XPrivateDecryptX(long key, byte[] data, int flags);
    public native byte[] XPublicEncryptX(long key, byte[] data, int flags);
    public native byte[] XPublicKeyHashedX(long key);

    // Password-derived keys and streaming ciphers
    public native long XGenerateKeyX(int algorithm, String password, byte[] salt, int iterations, int flags);
    public native int XEncryptInitX(long key, byte[] iv);
    public native int XDecryptInitX(long key, byte[] iv);
    public native int XEncryptUpdateX(long key, byte[] in, int inOffset, int inLength, byte[] out, int outOffset);
    public native int XDecryptUpdateX(long key, byte[] in, int inOffset, int inLength, byte[] out, int outOffset);
    public native int XEncryptFinalX(long key, byte[] out, int outOffset);
    public native int XDecryptFinalX(long key, byte[] out, int outOffset);

    // PKCS#7
    public native long XPKCS7CreateX();
    public native int XPKCS7AddCertificateX(long p7, long cert);
    public native int XPKCS7GetCertCountX(long p7);
    public native long XPKCS7GetCertX(long p7, int index);
    public native int XPKCS7GetSignerInfoCountX(long p7);
    public native long XPKCS7GetSignerInfoX(long p7, int index);
    public native long XPKCS7GetSignerCertificateX(long p7, int index);
    public native long XPKCS7GetUserCertificateX(long p7);
    public native long XPKCS7GetCertChainX(long p7);
    public native byte[] XPKCS7GetContentX(long p7);
    public native byte[] XPKCS7EncryptX(long cert, byte[] data, int cipher);
    public native byte[] XPKCS7DecryptX(long cert, long key, byte[] envelope, int flags);
    public native long XPKCS7SignX(long cert, long key, long unused, byte[] data, int options, int hash);
    public native int XPKCS7VerifyX(long store, long p7, byte[] data, String subject, int signerIndex, int flags,
                                    int checkTime);

    // One-call text API and OCSP
    public native String PKCS7SignX(String certificate, String key, String password, long store, byte[] data,
                                    int flags, int keyUsage, int hash);
    public native int PKCS7VerifyX(long store, String p7, byte[] data, String subject, int flags, int keyUsage,
                                   int checkTime);
    public native String PKCS7Encrypt(String certificate, byte[] data, int cipher, int keyUsage);
    public native String PKCS7Encrypt(String certificate, String data, int cipher, int keyUsage);
    public native byte[] PKCS7Decrypt(String certificate, String key, String password, String envelope, int flags,
                                      int keyUsage);
    public native String ComposeSignature(String certificate, String signerInfo, int flags);
    public native int OCSPVerifyCert(String requestor, String key, String password, String certificate,
                                     String caCertificates, String responder, String url);
    public native int XOCSPVerifyCertX(long requestorCert, long signingKey, long cert, long store, long responderCert,
                                       String url);

    // PFX and the connection probe
    public native long PFX_XGetPrivateKeyX(byte[] pfx, String password, int index, int unused);
    public native long PFX_XGetCertificateX(byte[] pfx, String password, int index, int unused);
    public native int TrySocketConnect(String host, int port, int timeout);

    // Trust stores and certificate reading
    public native long XLoadStoreX(String certificates, String crls);
    public native int XAddCertToStoreX(long store, long cert);
    public native int XAddCRLToStoreX(long store, long crl);
    public native int XVerifyCertChainX(long cert, long store, int flags, int time);
    public native int XValidateCertificateX(long cert, String rules, int time);
    public native byte[] XCertGetSerialNumberX(long cert, int format);
    public native String XCertGetSubjectX(long cert, int format);
    public native String XCertGetIssuerX(long cert, int format);
    public native String XCertGetNotBeforeX(long cert, int format);
    public native String XCertGetNotAfterX(long cert, int format);
    public native byte[] XCertGetDigestX(long cert, int flags);
    public native long XCertGetPublicKeyX(long cert);
    public native int XCertGetKeyUsagesX(long cert);

    // Certificate requests, building and signatures over objects
    public native long XCertficiateCreateX();
    public native int XSignObjectX(long object, long privateKey, int flags);
    public native int XVerifyObjectX(long object, long publicKey, int flags);
    public native long XCryptGenerateCertRequestX(long privateKey, long publicKey, String subject, int flags);
    public native long XCryptGenerateCertRequest2X(long privateKey, long publicKey, String subject, int flags,
                                                   int hash);
    public native long WKXCryptGenerateCertRequestX(long privateKey, long publicKey, String subject, int flags);
    public native long WKXCryptGenerateCertRequest2X(long privateKey, long publicKey, String subject, int flags,
                                                     int hash);
    public native long XCertReqCreateX();
    public native int XCertReqSetSubjectX(long request, String subject);
    public native int XCertReqSetPublicKeyX(long request, long publicKey);
    public native long XCertReqGetPublicKeyX(long request);
    public native String XCertReqGetSubjectX(long request, int format);
    public native int XCertSetSerialNumberX(long cert, String hexSerial);
    public native int XCertSetIssuerX(long cert, long issuerCert);
    public native int XCertSetIssuerX(long cert, String issuer);
    public native int XCertSetSubjectX(long cert, String subject);
    public native int XCertSetNotBeforeX(long cert, String time);
    public native int XCertSetNotAfterX(long cert, String time);
    public native int XCertSetPubliccKeyX(long cert, long publicKey);
    public native String XCertGetExtensionX(long cert, int selector);

    // CRLs and their revoked entries
    public native long XCRLCreateX();
    public native String XCRLGetIssuerX(long crl, int format);
    public native String XCRLGetLastUpdateX(long crl, int format);
    public native String XCRLGetNextUpdateX(long crl, int format);
    public native int XCRLSetLastUpdateX(long crl, String time);
    public native int XCRLSetNextUpdateX(long crl, String time);
    public native int XCRLSetIssuerX(long crl, String issuer);
    public native int XCRLSetIssuerX(long crl, long issuerCert);
    public native int XCRLSortRevoked(long crl, int flags);
    public native int XCRLAddRevokedX(long crl, String hexSerial, String date, int reason);
    public native int XCRLAddRevokedX(long crl, long cert, String date, int reason);
    public native int XCRLRevokedCountX(long crl);
    public native com.tq.pki.X509Revoked XCRLGetRevokedInfoX(long crl, int index);
    public native com.tq.pki.X509Revoked XCRLRevokedX(long crl, String hexSerial);
    public native com.tq.pki.X509Revoked XCRLRevokedX(long crl, long cert);

    // Extensions as com.tq.pki objects
    public native com.tq.pki.X509BasicConstraints XCertGetBasicConstraintsX(long cert);
    public native com.tq.pki.X509KeyUsage XCertGetKeyUsageX(long cert);
    public native com.tq.pki.X509ExtendedKeyUsage XCertGetExtendedKeyUsageX(long cert);
    public native com.tq.pki.X509SubjectKeyIdentifier XCertGetSubjectKeyIdentifierX(long cert);
    public native com.tq.pki.X509AuthorityKeyIdentifier XCertGetAuthorityKeyIdentifierX(long cert);
    public native com.tq.pki.X509CRLDistributionPoints XCertGetCRLDistributionPointsX(long cert);
    public native com.tq.pki.X509CRLNumber XCRLGetCRLNumberX(long crl);
    public native com.tq.pki.X509AuthorityKeyIdentifier XCRLGetAuthorityKeyIdentifierX(long crl);
    public native int XCertSetBasicConstraintsX(long cert, boolean ca, int pathLength, boolean critical);
    public native int XCertSetKeyUsageX(long cert, byte[] value, boolean critical);
    public native int XCertSetExtendedKeyUsageX(long cert, byte[] value, boolean critical);
    public native int XCertSetSubjectKeyIdentifierX(long cert, byte[] value, boolean critical);
    public native int XCertSetNetscapeCertTypeX(long cert, byte[] value, boolean critical);
    public native int XCertSetAuthorityKeyIdentifierX(long cert, Object[] value, boolean critical);
    public native int XCertSetCRLDistributionPointsX(long cert, String value, boolean critical);
    public native int XCertSetExtensionX(long cert, String name, String value, boolean critical);
    public native int XCertSetExtensionByOIDX(long cert, String oid, String value, boolean critical);
    public native int XCRLSetCRLNumberX(long crl, byte[] value, boolean critical);
    public native int XCRLSetAuthorityKeyIdentifierX(long crl, Object[] value, boolean critical);

    // ---- Token module, sessions, logins and token keys
    public native String GetNativeVersion();
    public native long XP11SyncCriticalSectionX();
    public native long XP11SyncMutexX();
    public native long XP11InitX(String path);
    public native long XP11InitExX(String path, long initArgs);
    public native long XP11MTInitX(String path);
    public native int XP11FinalX(long context);
    public native int XP11SetCurrentSlotX(long context, int index);
    public native int XSetCurrentSlotX(long context, int index);
    public native String XP11GetTokenSNX(long context);
    public native long XP11OpenSessionX(long context);
    public native int XP11CloseSessionX(long session);
    public native int XP11LoginX(long session, String pin);
    public native int LoginX(long session, String pin);
    public native int XP11Login_SOX(long session, String pin);
    public native int XP11LogoutX(long session);
    public native int LogoutX(long session);
    public native int P11ChangePINX(long session, String oldPin, String newPin, int unused);
    public native long XP11CryptGetPrivateKeyX(long session, String name, int flags);
    public native long XGetPrivateKeyX(long session, String name, int flags);
    public native long XP11CryptGetPublicKeyX(long session, String label, int flags);
    public native long XGetPublicKeyX(long session, String label, int flags);

    // Multi-step and bank logins, token certificates, selection by key usage, deletion
    public native int XP11LoginInitX(long session);
    public native int LoginInitX(long session);
    public native int XP11LoginUpdateX(long session, String part);
    public native int LoginUpdateX(long session, String part);
    public native int XP11LoginFinalX(long session);
    public native int LoginFinalX(long session);
    public native int XP11BankLoginX(long session, String library, String first, String second);
    public native long XP11CryptGetCertificateX(long session, String name, int flags);
    public native long XGetCertificateX(long session, String name, int flags);
    public native long GPKI_XGetPrivateKeyX(long session, int keyUsage, int unused);
    public native long GPKI_XGetCertificateX(long session, int keyUsage, int unused);
    public native long XP11CryptGetSymmetricKeyX(long session, String label, int cipherId, int isPrivate);
    public native int XP11CryptDeleteKeyX(long session, long handle);
    public native int XDeleteKeyX(long session, long handle);
    public native int P11DeleteObjectX(long session, String name, int kind, int isPrivate, int flags);

    // Token writers, key-pair generation and the object list
    public native int XP11CryptWritePrivateKeyX(long session, long key, String label, String id, int flags);
    public native int XP11CryptWritePublicKeyX(long session, long key, String label, String id, int flags);
    public native void XP11CryptWriteCertificateX(long session, long cert, String label, String id, int flags);
    public native void XWriteCertificateX(long session, long cert, String label, String id, int flags);
    public native int P11WriteX509CertX(long session, String cert, String label, String id, int flags);
    public native int P11WriteP7CertX(long session, String p7, String label, String id, int flags);
    public native int P11Crypt_WritePFXX(long session, byte[] pfx, String password, String label, String id,
                                         int flags);
    public native long XP11CryptGenerateKeyPairX(long session, String privateLabel, String privateId,
                                                 String publicLabel, String publicId, long modulusBits, int flags);
    public native long XGenerateKeyPairX(long session, String privateLabel, String privateId, String publicLabel,
                                         String publicId, long modulusBits, int flags);
    public native long P11GetObjectListX(long session, int unused);
    public native String XP11GetObjectListLabelX(long unused, long list, int index);
    public native int XP11GetObjectListObjectTypeX(long unused, long list, int index);
    public native int XP11ReleaseObjectListX(long list, int count);

    // Token signing, decryption, data objects, secret-key values and random numbers
    public native String WKP11SignX(long session, String name, long store, byte[] data, int flags, int hashFlags);
    public native String P11SignX(long session, String name, long store, byte[] data, int flags, int hashFlags);
    public native String P11SignByCertStringX(long session, String certText, String keyLabel, long store, byte[] data,
                                              int options);
    public native byte[] P11DecryptX(long session, String name, String text, int flags);
    public native byte[] WKP11DecryptX(long session, String name, byte[] text, int flags);
    public native byte[] P11ReadDataObjectX(long session, String label, int isPrivate, int flags);
    public native int P11WriteDataObjectX(long session, String label, int isPrivate, byte[] value, int flags);
    public native int P11WriteSymKeyObjectX(long session, String label, int kind, byte[] value, int flags);
    public native byte[] P11ReadSymKeyObjectX(long session, String label, int kind, int spare);
    public native byte[] P11ReadSymKeyObjectExX(long session, String label, int kind, int isPrivate, int spare);
    public native byte[] P11GetRandomNumberX(long session, int length);
    public native int P11ChangeObjLabelX(long session, String label, int kind, String newLabel, int spare);
    public native byte[] P11HCAGetBasicDataX(long session, int selector);

    // Token secret keys: generation, wrapping, MACs and one-call ciphers
    public native long P11GenerateSymKeyX(long session, String label, int kind, int flags);
    public native byte[] P11WrapKeyX(long session, String keyLabel, int keyKind, String wrappingLabel,
                                     int wrappingKind, int spare, long mode);
    public native int P11UnWrapKeyX(long session, String unwrappingLabel, int unwrappingKind, byte[] wrapped,
                                    String newLabel, int newKind, int flags, long mode);
    public native byte[] P11GenerateMACX(long session, String label, int kind, byte[] iv, byte[] data, int spare,
                                         int mode);
    public native byte[] P11SymDecryptX(long session, String label, int kind, byte[] iv, byte[] data, int mode);
    public native byte[] P11SymEncryptExX(long session, String label, long keyHandle, int kind, byte[] iv,
                                          byte[] data, int mode);
    public native int P11SetObjExtractableX(long session, String label, int kind, boolean extractable);
}
