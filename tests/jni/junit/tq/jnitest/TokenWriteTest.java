package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;
import static tq.jnitest.TokenPeer.*;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.function.IntSupplier;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

/** Keys, certificates and key pairs stored on the token from Java, as the token's own tool finds them. */
public class TokenWriteTest {
    static {
        Peer.load();
    }

    private static final int SHA256 = 4, HASH_DATA = 0x10000;
    private static final String DEFAULT_ID = "tqp11.orvane.vandrelot";

    private final WKP11Crypt c = new WKP11Crypt();
    private final byte[] data = "stored from Java\r\n\0 signed by the token".getBytes(StandardCharsets.ISO_8859_1);

    private static String idHex(String idText) {
        return hex(idText.getBytes(StandardCharsets.US_ASCII));
    }

    /** openssl accepts the signature over the test data under the public key (DER). */
    private void verifies(byte[] signature, byte[] publicKey) throws Exception {
        openssl(null, "dgst", "-sha256", "-verify", temp(publicKey).toString(), "-keyform", "DER", "-signature",
                temp(signature).toString(), temp(data).toString());
    }

    /** pkcs11-tool signs with the private key of that ID (its signer finds keys by ID only); openssl checks it. */
    private void toolSigns(String idText, byte[] publicKey) throws Exception {
        Path signature = temp(new byte[0]);
        Result r = tool("--sign", "--mechanism", "SHA256-RSA-PKCS", "--id", idHex(idText), "-i", temp(data).toString(),
                        "-o", signature.toString());
        assertEquals("pkcs11-tool signs with the key of ID " + idText, 0, r.status);
        verifies(Files.readAllBytes(signature), publicKey);
    }

    private static boolean labelled(String label) throws Exception {
        for (Listed o : listed())
            if (o.label.equals(label)) return true;
        return false;
    }

    @Test
    public void keysWrittenFromJavaAreTheTokensKeys() throws Exception {
        byte[] publicDer = read("user.pub.der");
        long key = decode(c, PRIVATEKEY, "user.rsa.der");
        long pub = decode(c, PUBLICKEY, "user.pub.der");
        try (TokenPeer t = TokenPeer.user(c)) {
            assertEquals(OK, c.XP11CryptWritePrivateKeyX(t.session, key, "java key", "jk1", 0));
            assertEquals(OK, c.ErrorCode);
            // The private key is written with its public half, both under the label and the ID text.
            assertEquals(idHex("jk1"), find("Private Key Object", "java key").id);
            assertArrayEquals(publicDer, readObject("pubkey", "--label", "java key"));
            assertArrayEquals(publicDer, readObject("pubkey", "--id", idHex("jk1")));
            toolSigns("jk1", publicDer);
            assertEquals(OBJECT_EXIST, c.XP11CryptWritePrivateKeyX(t.session, key, "java key", "jk1", 0));
            assertEquals(OBJECT_EXIST, c.ErrorCode);

            assertEquals(OK, c.XP11CryptWritePublicKeyX(t.session, pub, "java public", "jp1", 0));
            assertArrayEquals(publicDer, readObject("pubkey", "--id", idHex("jp1")));
            assertEquals(idHex("jp1"), find("Public Key Object", "java public").id);
            for (Listed o : listed())
                assertFalse("only the public key", o.heading.startsWith("Private") && o.label.equals("java public"));
            assertEquals(BAD_ARGUMENT, c.XP11CryptWritePublicKeyX(t.session, 0, "no key", "x", 0));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
            assertFalse(labelled("no key"));
        }
        c.XFreeHandleX(key);
        c.XFreeHandleX(pub);
    }

    @Test
    public void certificatesWrittenFromJavaReadBackWithTheTokensTool() throws Exception {
        long cert = decode(c, CERTIFICATE, "user.der");
        long key = decode(c, PRIVATEKEY, "user.rsa.der");
        try (TokenPeer t = TokenPeer.user(c)) {
            long s = t.session;
            String pem = text("user.pem"), p7 = text("signed.p7.pem");
            // label, ID text, the write (its code as the native reports it)
            Object[][] writes = {
                {"cert by handle", "c1", (IntSupplier) () -> {
                    c.XP11CryptWriteCertificateX(s, cert, "cert by handle", "c1", 0);
                    return c.ErrorCode;
                }},
                {"cert by alias", "c2", (IntSupplier) () -> {
                    c.XWriteCertificateX(s, cert, "cert by alias", "c2", 0);
                    return c.ErrorCode;
                }},
                {"cert as text", "c3", (IntSupplier) () -> c.P11WriteX509CertX(s, pem, "cert as text", "c3", 0)},
                {"cert of a pkcs7", "c4", (IntSupplier) () -> c.P11WriteP7CertX(s, p7, "cert of a pkcs7", "c4", 0)},
            };
            byte[] der = read("user.der");
            for (Object[] w : writes) {
                String label = (String) w[0], id = (String) w[1];
                c.ErrorCode = -1;
                assertEquals(label, OK, ((IntSupplier) w[2]).getAsInt());
                assertEquals(label, OK, c.ErrorCode);
                assertArrayEquals(label, der, readObject("cert", "--label", label));
                assertArrayEquals(label, der, readObject("cert", "--id", idHex(id)));
            }

            // What is no certificate reaches ErrorCode and writes nothing.
            c.ErrorCode = -1;
            c.XP11CryptWriteCertificateX(s, key, "not a cert", "n1", 0);
            assertEquals(WRONG_HANDLE, c.ErrorCode);
            assertEquals(BAD_ARGUMENT, c.P11WriteX509CertX(s, null, "not a cert", "n1", 0));
            assertNotEquals(OK, c.P11WriteP7CertX(s, text("user.pem"), "not a cert", "n1", 0));
            assertNotEquals(OK, c.ErrorCode);
            assertFalse(labelled("not a cert"));
        }
        c.XFreeHandleX(cert);
        c.XFreeHandleX(key);
    }

    @Test
    public void pfxWrittenFromJavaGivesKeyAndCertificate() throws Exception {
        byte[] pfx = read("user.p12");
        try (TokenPeer t = TokenPeer.user(c)) {
            assertEquals(P12_BAD_MAC, c.P11Crypt_WritePFXX(t.session, pfx, "wrong", "pfx set", "p1", 0));
            assertEquals(P12_BAD_MAC, c.ErrorCode);
            assertFalse(labelled("pfx set"));

            assertEquals(OK, c.P11Crypt_WritePFXX(t.session, pfx, "secret", "pfx set", "p1", 0));
            assertEquals(OK, c.ErrorCode);
            assertArrayEquals(read("user.der"), readObject("cert", "--id", idHex("p1")));
            assertArrayEquals(read("user.pub.der"), readObject("pubkey", "--label", "pfx set"));
            assertEquals(idHex("p1"), find("Private Key Object", "pfx set").id);
            toolSigns("p1", read("user.pub.der"));
        }
    }

    @Test
    public void generatedKeyPairsWithAndWithoutIds() throws Exception {
        try (TokenPeer t = TokenPeer.user(c)) {
            long key = c.XP11CryptGenerateKeyPairX(t.session, "gen private", "gp1", "gen public", "gq1", 2048, 0);
            assertEquals(OK, c.ErrorCode);
            assertNotEquals(0, key);
            Listed pub = find("Public Key Object", "gen public");
            assertTrue(pub.heading, pub.heading.contains("2048"));
            assertEquals(idHex("gq1"), pub.id);
            assertEquals(idHex("gp1"), find("Private Key Object", "gen private").id);
            byte[] publicDer = readObject("pubkey", "--label", "gen public");
            // The handle is the new private key: openssl accepts its signature under the public key.
            byte[] signature = c.XPureSignX(key, data, HASH_DATA | SHA256);
            assertEquals(OK, c.ErrorCode);
            verifies(signature, publicDer);
            toolSigns("gp1", publicDer);
            c.XFreeHandleX(key);

            // private ID, public ID, each key's ID on the token
            String[][] ids = {{null, null, DEFAULT_ID, DEFAULT_ID},
                              {"", "", DEFAULT_ID, DEFAULT_ID},
                              {"gm1", "", "gm1", DEFAULT_ID},
                              {null, "gm2", DEFAULT_ID, "gm2"}};
            for (int i = 0; i < ids.length; i++) {
                String privateLabel = "gen private " + i, publicLabel = "gen public " + i;
                key = (i % 2 == 0)
                          ? c.XGenerateKeyPairX(t.session, privateLabel, ids[i][0], publicLabel, ids[i][1], 1024, 0)
                          : c.XP11CryptGenerateKeyPairX(t.session, privateLabel, ids[i][0], publicLabel, ids[i][1],
                                                        1024, 0);
                assertEquals(privateLabel, OK, c.ErrorCode);
                assertEquals(privateLabel, idHex(ids[i][2]), find("Private Key Object", privateLabel).id);
                assertEquals(privateLabel, idHex(ids[i][3]), find("Public Key Object", publicLabel).id);
                verifies(c.XPureSignX(key, data, HASH_DATA | SHA256), readObject("pubkey", "--label", publicLabel));
                c.XFreeHandleX(key);
            }

            // A negative size reaches no token.
            assertEquals(0, c.XGenerateKeyPairX(t.session, "gen negative", null, "gen negative", null, -1024, 0));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
            assertFalse(labelled("gen negative"));
        }
    }

    @Test
    public void sessionOfZero() throws Exception {
        long key = decode(c, PRIVATEKEY, "user.rsa.der");
        long cert = decode(c, CERTIFICATE, "user.der");
        assertEquals(BAD_ARGUMENT, c.XP11CryptWritePrivateKeyX(0, key, "zero", "z", 0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        assertEquals(BAD_ARGUMENT, c.XP11CryptWritePublicKeyX(0, key, "zero", "z", 0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        c.ErrorCode = -1;
        c.XP11CryptWriteCertificateX(0, cert, "zero", "z", 0);
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        c.ErrorCode = -1;
        c.XWriteCertificateX(0, cert, "zero", "z", 0);
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        assertEquals(0, c.XP11CryptGenerateKeyPairX(0, "zero", null, "zero", null, 1024, 0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        c.ErrorCode = -1;
        assertEquals(0, c.XGenerateKeyPairX(0, "zero", null, "zero", null, 1024, 0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        // The token layer answers for these three, after reading what they are given.
        assertEquals(BAD_ARGUMENT, c.P11WriteX509CertX(0, text("user.pem"), "zero", "z", 0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        assertEquals(BAD_ARGUMENT, c.P11WriteP7CertX(0, text("signed.p7.pem"), "zero", "z", 0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        assertEquals(BAD_ARGUMENT, c.P11Crypt_WritePFXX(0, read("user.p12"), "secret", "zero", "z", 0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        c.XFreeHandleX(key);
        c.XFreeHandleX(cert);
    }
}
