package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static tq.jnitest.Peer.*;

import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.Base64;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

public class TextApiTest {
    static {
        Peer.load();
    }

    private static final int DETACHED = 0x4000, VERIFY_CHAIN = 0x1, NO_ISSUER = 5015;
    private final WKP11Crypt c = new WKP11Crypt();
    private final byte[] data = "text api content\n".getBytes(StandardCharsets.US_ASCII);

    private static byte[] der(String base64) {
        return Base64.getMimeDecoder().decode(base64);
    }

    private Result cmsVerify(byte[] p7, boolean detached) throws Exception {
        return detached ? run(p7, "cms", "-verify", "-binary", "-inform", "DER", "-CAfile",
                              fixture("ca.pem").toString(), "-content", temp(data).toString())
                        : run(p7, "cms", "-verify", "-binary", "-inform", "DER", "-CAfile",
                              fixture("ca.pem").toString());
    }

    @Test
    public void signVerifyAndComposeWithOpenssl() throws Exception {
        String cert = text("user.pem");
        for (int flags : new int[] {0, DETACHED}) {
            String p7 = c.PKCS7SignX(cert, text("user.rsa.pem"), null, 0, data, flags, 0, 4);
            assertEquals(OK, c.ErrorCode);
            Result r = cmsVerify(der(p7), flags != 0);
            assertEquals(0, r.status);
            if (flags == 0) assertArrayEquals(data, r.out);

            // Without a store the signature alone is checked; a failed check
            // leaves the fields as they were.
            c.strSignerInfo = "before";
            c.strSignerCert = "before";
            byte[] other = "other content\n".getBytes(StandardCharsets.US_ASCII);
            assertNotEquals(OK, c.PKCS7VerifyX(0, p7, other, null, flags, 0, 0));
            assertNotEquals(OK, c.ErrorCode);
            assertEquals(NO_ISSUER, c.PKCS7VerifyX(0, p7, data, null, flags | VERIFY_CHAIN, 0, 0));
            assertEquals("before", c.strSignerInfo);
            assertEquals("before", c.strSignerCert);
            assertEquals(OK, c.PKCS7VerifyX(0, p7, data, "CN=User One", flags, 0x80, 0));
            assertEquals(OK, c.ErrorCode);
            assertArrayEquals(read("user.der"), der(c.strSignerCert));

            long message = c.XDecodeObjectX(PKCS7, p7.getBytes(StandardCharsets.US_ASCII), DECODE_TEXT);
            long info = c.XPKCS7GetSignerInfoX(message, 0);
            String infoText = new String(c.XEncodeObjectX(info, SIGNERINFO, ENCODE_TEXT), StandardCharsets.US_ASCII);
            c.XFreeHandleX(info);
            c.XFreeHandleX(message);
            assertArrayEquals(der(infoText), der(c.strSignerInfo));
            String composed = c.ComposeSignature(cert, infoText, 0);
            assertEquals(OK, c.ErrorCode);
            assertEquals(0, cmsVerify(der(composed), true).status);
        }
        assertNull(c.PKCS7SignX(null, text("user.rsa.pem"), null, 0, data, 0, 0, 4));
        assertNotEquals(OK, c.ErrorCode);
    }

    @Test
    public void envelopesBothWays() throws Exception {
        String cert = text("user.pem");
        String key = text("user.rsa.pem");
        String unicode = "caf\u00e9 \uD834\uDD1E";
        String env = c.PKCS7Encrypt(cert, unicode, 2, 0);
        assertEquals(OK, c.ErrorCode);
        byte[] plain = openssl(der(env), "smime", "-decrypt", "-binary", "-inform", "DER", "-recip",
                               fixture("user.pem").toString(), "-inkey", fixture("user.key.pem").toString());
        assertArrayEquals(unicode.getBytes(StandardCharsets.UTF_8), plain);
        env = c.PKCS7Encrypt(cert, data, 2, 0);
        assertArrayEquals(data, c.PKCS7Decrypt(cert, key, null, env, 0, 0));

        byte[] theirs = openssl(null, "smime", "-encrypt", "-binary", "-des3", "-in", temp(data).toString(),
                                "-outform", "DER", fixture("user.pem").toString());
        assertArrayEquals(data, c.PKCS7Decrypt(cert, key, null, Base64.getMimeEncoder().encodeToString(theirs), 0,
                                               0));
        assertEquals(OK, c.ErrorCode);
        assertNull(c.PKCS7Decrypt(cert, key, null, "not an envelope", 0, 0));
        assertNotEquals(OK, c.ErrorCode);
    }

    /** openssl ocsp on 127.0.0.1, answering three requests. */
    @Test
    public void ocspAgainstOpensslResponder() throws Exception {
        Path ocsp = Paths.get(System.getenv("TQ_FIXTURES"), "ocsp");
        Process responder = new ProcessBuilder("timeout", "60", "openssl", "ocsp", "-index",
                                               ocsp.resolve("index.txt").toString(), "-CA",
                                               ocsp.resolve("ca.pem").toString(), "-rsigner",
                                               ocsp.resolve("responder.pem").toString(), "-rkey",
                                               ocsp.resolve("responder.key").toString(), "-port", "0", "-nrequest",
                                               "3")
                                .redirectError(ProcessBuilder.Redirect.DISCARD)
                                .start();
        try {
            String line = new BufferedReader(new InputStreamReader(responder.getInputStream())).readLine();
            // "ACCEPT [::]:43925 PID=8041"
            String address = line.split(" ")[1];
            String url = "http://127.0.0.1:" + address.substring(address.lastIndexOf(':') + 1) + "/";
            String ca = new String(java.nio.file.Files.readAllBytes(ocsp.resolve("ca.pem")), StandardCharsets.US_ASCII);
            String responderCert = new String(java.nio.file.Files.readAllBytes(ocsp.resolve("responder.pem")),
                                              StandardCharsets.US_ASCII);
            Object[][] cases = {{"user-1000.pem", OK}, {"user-1001.pem", 5021}, {"user-100A.pem", 5416}};
            for (Object[] k : cases) {
                String cert = new String(java.nio.file.Files.readAllBytes(ocsp.resolve((String) k[0])),
                                         StandardCharsets.US_ASCII);
                c.ErrorCode = -1;
                assertEquals((String) k[0], k[1], c.OCSPVerifyCert(null, null, null, cert, ca, responderCert, url));
                assertEquals((String) k[0], k[1], c.ErrorCode);
            }
        } finally {
            responder.destroy();
        }
    }
}
