package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;

import java.util.List;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

/** Token certificates by label and CKA_ID, secret-key objects by cipher id, and deletion. */
public class TokenCertsTest {
    static {
        Peer.load();
    }

    private static final int BAD_HEX = 5009, OBJECT_NOT_EXIST = 9100;
    private static final int BY_CKA_ID = 0x1000000, SHA256 = 4, HASH_DATA = 0x10000;
    private static final int KIND_CERTIFICATE = 17, KIND_RSA_PRIVATE = 19;
    private static final int DES = 0, DES_CBC = 1, DES3 = 2, RC4 = 4, AES = 7;

    private final WKP11Crypt c = new WKP11Crypt();

    private static void writeCertificate(String label, String id) throws Exception {
        TokenPeer.toolOk("--write-object", fixture("user.der").toString(), "--type", "cert", "--label", label,
                          "--id", id);
    }

    @Test
    public void certificateByLabelAndByHexId() throws Exception {
        writeCertificate("user cert", "c3d4");
        byte[] der = read("user.der");
        try (TokenPeer t = TokenPeer.open(c, TokenPeer.MODULE)) {
            // A public certificate needs no login.
            Object[][] found = {{"by label", c.XP11CryptGetCertificateX(t.session, "user cert", 0)},
                                {"alias by label", c.XGetCertificateX(t.session, "user cert", 0)},
                                {"by ID", c.XGetCertificateX(t.session, "c3d4", BY_CKA_ID)},
                                {"by ID, upper case", c.XP11CryptGetCertificateX(t.session, "C3D4", BY_CKA_ID)}};
            for (Object[] f : found) {
                long cert = (Long) f[1];
                assertNotEquals((String) f[0], 0, cert);
                assertArrayEquals((String) f[0], der, c.XEncodeObjectX(cert, CERTIFICATE, 0));
                c.XFreeHandleX(cert);
            }
            assertEquals(OK, c.ErrorCode);

            // The ID is no label, the label no ID.
            Object[][] missing = {{"c3d4", 0}, {"no such cert", 0}, {"c3d5", BY_CKA_ID}};
            for (Object[] m : missing) {
                assertEquals((String) m[0], 0, c.XP11CryptGetCertificateX(t.session, (String) m[0], (Integer) m[1]));
                assertEquals((String) m[0], OBJECT_NOT_EXIST, c.ErrorCode);
            }
            assertEquals(0, c.XGetCertificateX(t.session, "", BY_CKA_ID));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
        }
        assertEquals(0, c.XP11CryptGetCertificateX(0, "user cert", 0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        assertEquals(0, c.XGetCertificateX(0, "c3d4", BY_CKA_ID));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
    }

    @Test
    public void secretKeyObjectByCipherId() throws Exception {
        TokenPeer.toolOk("--write-object", temp(unhex("00112233445566778899aabbccddeeff")).toString(), "--type",
                          "secrkey", "--key-type", "AES:16", "--label", "aes key");
        TokenPeer.toolOk("--write-object", temp(unhex("0123456789abcdeffedcba98765432100123456789abcdef")).toString(),
                          "--type", "secrkey", "--key-type", "DES3:24", "--label", "des3 key", "--private");
        try (TokenPeer t = TokenPeer.open(c, TokenPeer.MODULE)) {
            assertEquals(OK, c.XP11LoginX(t.session, TokenPeer.PIN));
            long aes = c.XP11CryptGetSymmetricKeyX(t.session, "aes key", AES, 0);
            assertEquals(OK, c.ErrorCode);
            assertNotEquals(0, aes);
            assertEquals(aes, c.XP11CryptGetSymmetricKeyX(t.session, "aes key", AES, 0));
            long des3 = c.XP11CryptGetSymmetricKeyX(t.session, "des3 key", DES3, 1);
            assertEquals(OK, c.ErrorCode);
            assertNotEquals(0, des3);
            assertNotEquals(aes, des3);

            // Every id with a token key kind reaches the token, which finds secret keys by class, private
            // flag and label.
            for (int id : new int[] {DES, DES_CBC, RC4}) {
                assertEquals("id " + id, des3, c.XP11CryptGetSymmetricKeyX(t.session, "des3 key", id, 1));
                assertEquals("id " + id, OK, c.ErrorCode);
            }
            Object[][] notFound = {{"des3 key", 0}, {"aes key", 1}, {"no such key", 0}};
            for (Object[] n : notFound) {
                String what = n[0] + ", private " + n[1];
                assertEquals(what, 0, c.XP11CryptGetSymmetricKeyX(t.session, (String) n[0], DES3, (Integer) n[1]));
                assertEquals(what, OBJECT_NOT_EXIST, c.ErrorCode);
            }
            // Ids without a token key kind are refused, even for a key that exists.
            for (int id : new int[] {3, 5, 6, 8, -1}) {
                c.ErrorCode = OK;
                assertEquals("id " + id, 0, c.XP11CryptGetSymmetricKeyX(t.session, "aes key", id, 0));
                assertEquals("id " + id, BAD_ARGUMENT, c.ErrorCode);
            }
        }
        assertEquals(0, c.XP11CryptGetSymmetricKeyX(0, "aes key", AES, 0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
    }

    @Test
    public void deletingKeysTakesOnlyTokenCipherHandles() throws Exception {
        try (TokenPeer t = TokenPeer.open(c, TokenPeer.MODULE)) {
            assertEquals(OK, c.XP11LoginX(t.session, TokenPeer.PIN));
            long key = c.XP11CryptGetPrivateKeyX(t.session, "userkey", 0);
            long pub = c.XGetPublicKeyX(t.session, "userkey", 0);
            long cert = decode(c, CERTIFICATE, "user.der");
            long cipher = c.XGenerateKeyX(DES3, "secret", unhex("0102030405060708"), 1, 0);
            assertEquals(OK, c.ErrorCode);
            List<String> before = TokenPeer.listedLabels();
            assertTrue(before.contains("userkey"));
            for (long h : new long[] {key, pub, cert, cipher}) {
                assertEquals(WRONG_HANDLE, c.XP11CryptDeleteKeyX(t.session, h));
                assertEquals(WRONG_HANDLE, c.ErrorCode);
                assertEquals(WRONG_HANDLE, c.XDeleteKeyX(t.session, h));
                assertEquals(WRONG_HANDLE, c.ErrorCode);
            }
            assertEquals(BAD_ARGUMENT, c.XP11CryptDeleteKeyX(t.session, 0));
            for (long h : new long[] {key, 0}) {
                assertEquals(BAD_ARGUMENT, c.XP11CryptDeleteKeyX(0, h));
                assertEquals(BAD_ARGUMENT, c.XDeleteKeyX(0, h));
                assertEquals(BAD_ARGUMENT, c.ErrorCode);
            }
            // Nothing left the token, and the key still signs.
            assertEquals(before, TokenPeer.listedLabels());
            c.XPureSignX(key, "still here".getBytes(), HASH_DATA | SHA256);
            assertEquals(OK, c.ErrorCode);
            for (long h : new long[] {key, pub, cert, cipher}) c.XFreeHandleX(h);
        }
    }

    @Test
    public void deletingObjectsByNameAndId() throws Exception {
        writeCertificate("gone by label", "0a0b");
        writeCertificate("gone by id", "0c0d");
        writeCertificate("kept", "0e0f");
        try (TokenPeer t = TokenPeer.open(c, TokenPeer.MODULE)) {
            assertEquals(OK, c.XP11LoginX(t.session, TokenPeer.PIN));
            assertEquals(OK, c.P11DeleteObjectX(t.session, "gone by label", KIND_CERTIFICATE, 0, 0));
            assertEquals(OK, c.ErrorCode);
            List<String> labels = TokenPeer.listedLabels();
            assertFalse(labels.contains("gone by label"));
            assertTrue(labels.contains("gone by id"));
            assertEquals(OBJECT_NOT_EXIST, c.P11DeleteObjectX(t.session, "gone by label", KIND_CERTIFICATE, 0, 0));

            assertEquals(OK, c.P11DeleteObjectX(t.session, "0C0D", KIND_CERTIFICATE, 0, BY_CKA_ID));
            labels = TokenPeer.listedLabels();
            assertFalse(labels.contains("gone by id"));
            assertTrue(labels.contains("kept"));

            // Refusals: another kind, a text that is no hexadecimal, no ID, no name, no session (the
            // token layer checks it).
            Object[][] refused = {{OBJECT_NOT_EXIST, "kept", KIND_RSA_PRIVATE, 1, 0},
                                  {BAD_HEX, "0g", KIND_CERTIFICATE, 0, BY_CKA_ID},
                                  {BAD_ARGUMENT, "", KIND_CERTIFICATE, 0, BY_CKA_ID},
                                  {BAD_ARGUMENT, null, KIND_CERTIFICATE, 0, 0}};
            for (Object[] r : refused) {
                int code = c.P11DeleteObjectX(t.session, (String) r[1], (Integer) r[2], (Integer) r[3], (Integer) r[4]);
                assertEquals(r[1] + " of kind " + r[2], (int) (Integer) r[0], code);
                assertEquals((int) (Integer) r[0], c.ErrorCode);
            }
            assertEquals(BAD_ARGUMENT, c.P11DeleteObjectX(0, "kept", KIND_CERTIFICATE, 0, 0));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
            assertTrue(TokenPeer.listedLabels().contains("kept"));
        }
    }
}
