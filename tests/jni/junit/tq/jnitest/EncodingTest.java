package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;

import java.nio.charset.StandardCharsets;
import java.util.Random;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

public class EncodingTest {
    static {
        Peer.load();
    }

    private final WKP11Crypt c = new WKP11Crypt();

    /** Every decodable kind as openssl wrote it, in DER and as PEM text. */
    private static final Object[][] KINDS = {
        {CERTIFICATE, "user.der", "user.pem"},
        {CERTREQUEST, "user.csr.der", "user.csr.pem"},
        {CRL, "crl.der", "crl.pem"},
        {PKCS7, "signed.p7.der", "signed.p7.pem"},
        {PRIVATEKEY, "user.rsa.der", "user.rsa.pem"},
        {PKCS8, "user.p8.der", "user.p8.pem"},
        {PKCS8INFO, "user.p8info.der", "user.p8info.pem"},
    };

    @Test
    public void everyKindBackToOpensslBytes() throws Exception {
        for (Object[] k : KINDS) {
            int kind = (Integer) k[0];
            byte[] der = read((String) k[1]);
            byte[] pem = read((String) k[2]);
            long fromDer = c.XDecodeObjectX(kind, der, 0);
            assertEquals(k[1] + " decodes", OK, c.ErrorCode);
            assertArrayEquals(k[1] + " encodes back", der, c.XEncodeObjectX(fromDer, kind, 0));
            long fromPem = c.XDecodeObjectX(kind, pem, DECODE_TEXT);
            assertEquals(k[2] + " decodes", OK, c.ErrorCode);
            assertArrayEquals(k[2] + " gives openssl's DER", derOfPem((String) k[2]),
                              c.XEncodeObjectX(fromPem, kind, 0));
            c.XFreeHandleX(fromDer);
            c.XFreeHandleX(fromPem);
        }
    }

    @Test
    public void publicKeyFromOpenssl() throws Exception {
        long pub = c.XDecodeObjectX(PUBLICKEY, read("user.pub.der"), 0);
        assertEquals(OK, c.ErrorCode);
        long text = c.XDecodeObjectX(PUBLICKEY, read("user.pub.pem"), DECODE_TEXT);
        assertEquals(OK, c.ErrorCode);
        byte[] der = c.XEncodeObjectX(pub, PUBLICKEY, 0);
        assertArrayEquals(der, c.XEncodeObjectX(text, PUBLICKEY, 0));
        // openssl reads what we wrote as the same key.
        assertArrayEquals(read("user.pub.der"),
                          openssl(der, "pkey", "-pubin", "-inform", "DER", "-pubout", "-outform", "DER"));
        c.XFreeHandleX(pub);
        c.XFreeHandleX(text);
    }

    @Test
    public void armourThroughThePasswordArray() throws Exception {
        long cert = decode(c, CERTIFICATE, "user.der");
        // The array is read as an int: 1 asks for armour, empty for bare Base64.
        String pem = new String(c.XEncodeObjectX(cert, CERTIFICATE, ENCODE_TEXT, new byte[] {1}),
                                StandardCharsets.US_ASCII);
        assertEquals(text("user.pem").trim(), pem.replace("\r\n", "\n").trim());
        for (int i = 0; i < 50; i++) {
            byte[] bare = c.XEncodeObjectX(cert, CERTIFICATE, ENCODE_TEXT, new byte[0]);
            assertEquals(OK, c.ErrorCode);
            assertFalse(new String(bare, StandardCharsets.US_ASCII).contains("-----BEGIN"));
            assertArrayEquals(read("user.der"), c.Decode(new String(bare, StandardCharsets.US_ASCII), null));
        }
        byte[] none = c.XEncodeObjectX(cert, CERTIFICATE, ENCODE_TEXT);
        assertNotEquals(0, none.length);
        assertNotEquals('\0', none[none.length - 1]);
        c.XFreeHandleX(cert);

        long req = decode(c, CERTREQUEST, "user.csr.der");
        String fresh = new String(c.XEncodeObjectX(req, CERTREQUEST, ENCODE_TEXT, new byte[] {2}),
                                  StandardCharsets.US_ASCII);
        assertTrue(fresh, fresh.startsWith("-----BEGIN NEW CERTIFICATE REQUEST-----"));
        assertArrayEquals(read("user.csr.der"),
                          openssl(fresh.getBytes(StandardCharsets.US_ASCII), "req", "-outform", "DER"));
        c.XFreeHandleX(req);
    }

    /** Passwords on both sides of the stack copy's size. */
    @Test
    public void encryptedKeyPemOpensWithOpenssl() throws Exception {
        long key = decode(c, PRIVATEKEY, "user.rsa.der");
        Random r = new Random(7);
        for (int n : new int[] {1, 255, 256, 700}) {
            byte[] password = new byte[n];
            for (int i = 0; i < n; i++) password[i] = (byte) ('a' + r.nextInt(26));
            byte[] pem = c.XEncodeObjectX(key, PRIVATEKEY, ENCODE_TEXT, password);
            assertEquals(OK, c.ErrorCode);
            assertTrue(new String(pem, StandardCharsets.US_ASCII).contains("ENCRYPTED"));
            String pass = "file:" + temp(password);
            byte[] der = openssl(pem, "rsa", "-passin", pass, "-traditional", "-outform", "DER");
            assertArrayEquals("password of " + n + " bytes", read("user.rsa.der"), der);
            long back = c.XDecodeObjectX(PRIVATEKEY, pem, DECODE_TEXT, password);
            assertEquals(OK, c.ErrorCode);
            assertArrayEquals(read("user.rsa.der"), c.XEncodeObjectX(back, PRIVATEKEY, 0));
            c.XFreeHandleX(back);
            password[n - 1] ^= 1;
            assertEquals(0, c.XDecodeObjectX(PRIVATEKEY, pem, DECODE_TEXT, password));
            assertNotEquals(OK, c.ErrorCode);
        }
        c.XFreeHandleX(key);
    }

    @Test
    public void base64AgainstOpenssl() throws Exception {
        Random r = new Random(3);
        for (int n : new int[] {0, 1, 47, 48, 49, 200}) {
            byte[] data = new byte[n];
            r.nextBytes(data);
            String ours = c.Encode(data, null);
            assertEquals(OK, c.ErrorCode);
            String theirs = new String(openssl(data, "base64"), StandardCharsets.US_ASCII);
            assertEquals(theirs.trim(), ours.replace("\r\n", "\n").trim());
            assertArrayEquals(data, c.Decode(theirs, null));
            assertArrayEquals(data, openssl(ours.getBytes(StandardCharsets.US_ASCII), "base64", "-d"));
        }
        String armoured = c.Encode(read("user.der"), "CERTIFICATE");
        assertArrayEquals(read("user.der"), c.Decode(armoured, "X509 CERTIFICATE;CERTIFICATE"));
    }

    /** String arguments reach the core as standard UTF-8, and come back so. */
    @Test
    public void stringsAsStandardUtf8() throws Exception {
        for (String s : new String[] {"plain", "caf\u00e9", "clef \uD834\uDD1E end", "\uD834\uDD1E\uD83D\uDE00"}) {
            String b64 = c.Encode(s, null);
            assertEquals(OK, c.ErrorCode);
            byte[] bytes = s.getBytes(StandardCharsets.UTF_8);
            assertArrayEquals(s, bytes, c.Decode(b64, null));
            assertArrayEquals(bytes, openssl(b64.getBytes(StandardCharsets.US_ASCII), "base64", "-d"));
        }
        // A lone surrogate has no standard form.
        assertArrayEquals(new byte[] {'a', (byte) 0xEF, (byte) 0xBF, (byte) 0xBD},
                          c.Decode(c.Encode("a\uD800", null), null));
    }

    @Test
    public void refusals() throws Exception {
        assertEquals(0, c.XDecodeObjectX(9, read("user.der"), 0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        long key = decode(c, PRIVATEKEY, "user.rsa.der");
        assertNull(c.XEncodeObjectX(key, CERTIFICATE, 0));
        assertEquals(WRONG_HANDLE, c.ErrorCode);
        c.XFreeHandleX(key);
    }
}
