package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;

import java.io.ByteArrayOutputStream;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import org.junit.After;
import org.junit.Before;
import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

public class RequestTest {
    static {
        Peer.load();
    }

    static final int BAD_FORMAT = 5045;
    static final int BAD_SIGNATURE = 5036;
    static final int FAILED = 5001;
    static final int KEY_MISMATCH = 5060;
    static final int SIGN_FAILED = 5061;
    static final int NO_SIGN = 0x1;
    static final String SUBJECT =
        "C=TW\nO=Orvane Test\nCN=Request \u00dcser \ud834\udd1e\nE=req@example.org";
    /** The subject as the tool prints it in RFC 2253 order. */
    static final String TOOL_SUBJECT =
        "emailAddress=req@example.org,CN=Request \u00dcser \ud834\udd1e,O=Orvane Test,C=TW";
    /** The subject as the library writes it. */
    static final String SUBJECT_TEXT =
        "C=TW\r\nO=Orvane Test\r\nCN=Request \u00dcser \ud834\udd1e\r\nEmail=req@example.org";
    /** The tool's names of the signature under each hash selector. */
    static final String[] SIGNATURES = {"sha1WithRSAEncryption",   "md5WithRSAEncryption",
                                        "sha1WithRSAEncryption",   "sha224WithRSAEncryption",
                                        "sha256WithRSAEncryption", "sha384WithRSAEncryption",
                                        "sha512WithRSAEncryption"};

    private final WKP11Crypt c = new WKP11Crypt();
    private final List<Long> handles = new ArrayList<>();
    private long key, pub;

    private long keep(long h) {
        handles.add(h);
        return h;
    }

    @Before
    public void keys() throws Exception {
        key = keep(decode(c, PRIVATEKEY, "user.rsa.der"));
        pub = keep(decode(c, PUBLICKEY, "user.pub.der"));
    }

    @After
    public void release() {
        for (long h : handles) c.XFreeHandleX(h);
    }

    private byte[] der(long request) {
        byte[] der = c.XEncodeObjectX(request, CERTREQUEST, 0);
        assertEquals(OK, c.ErrorCode);
        return der;
    }

    /** The tool's output with its standard error, where req and crl write their verdicts. */
    static String withVerdict(byte[] input, String... args) throws Exception {
        List<String> argv = new ArrayList<>(List.of("timeout", "60", "openssl"));
        argv.addAll(Arrays.asList(args));
        Process p = new ProcessBuilder(argv).redirectErrorStream(true).start();
        try (OutputStream in = p.getOutputStream()) {
            in.write(input);
        }
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        try (InputStream s = p.getInputStream()) {
            s.transferTo(out);
        }
        p.waitFor();
        return new String(out.toByteArray(), StandardCharsets.UTF_8);
    }

    static String toolVerify(byte[] der) throws Exception {
        return withVerdict(der, "req", "-verify", "-text", "-noout", "-inform", "DER", "-nameopt",
                           "RFC2253,-esc_msb");
    }

    static void assertVerifies(String what, String text) {
        assertTrue(what + ":\n" + text, text.contains("self-signature verify OK"));
    }

    @Test
    public void oneCallRequestsUnderEveryHash() throws Exception {
        byte[] publicDer = openssl(read("user.pub.der"), "pkey", "-pubin", "-inform", "DER", "-outform", "DER");
        for (int hash = 0; hash < SIGNATURES.length; hash++) {
            String what = "hash " + hash;
            // With the public key given and derived from the private key: the same request.
            byte[] first = der(keep(c.XCryptGenerateCertRequest2X(key, pub, SUBJECT, 0, hash)));
            byte[] twin = der(keep(c.WKXCryptGenerateCertRequest2X(key, 0, SUBJECT, 0, hash)));
            assertArrayEquals(what, first, twin);
            String text = toolVerify(first);
            assertVerifies(what, text);
            assertTrue(what + ":\n" + text, text.contains("Signature Algorithm: " + SIGNATURES[hash]));
            assertTrue(what + ":\n" + text, text.contains("Subject: " + TOOL_SUBJECT + "\n"));
            byte[] toolKey = openssl(first, "req", "-inform", "DER", "-pubkey", "-noout");
            assertArrayEquals(what, publicDer, openssl(toolKey, "pkey", "-pubin", "-outform", "DER"));
        }
        // The four-argument forms sign with SHA-1.
        byte[] sha1 = der(keep(c.XCryptGenerateCertRequest2X(key, 0, SUBJECT, 0, 0)));
        assertArrayEquals(sha1, der(keep(c.XCryptGenerateCertRequestX(key, 0, SUBJECT, 0))));
        assertArrayEquals(sha1, der(keep(c.WKXCryptGenerateCertRequestX(key, pub, SUBJECT, 0))));
    }

    @Test
    public void unsignedRequestsAndTheirSigningLater() throws Exception {
        long[] made = {keep(c.XCryptGenerateCertRequestX(0, pub, SUBJECT, NO_SIGN)),
                       keep(c.WKXCryptGenerateCertRequestX(0, pub, SUBJECT, NO_SIGN)),
                       keep(c.XCryptGenerateCertRequest2X(0, pub, SUBJECT, NO_SIGN, 4)),
                       keep(c.WKXCryptGenerateCertRequest2X(0, pub, SUBJECT, NO_SIGN, 4))};
        byte[] signedInOneCall = der(keep(c.XCryptGenerateCertRequest2X(key, 0, SUBJECT, 0, 4)));
        for (long request : made) {
            assertNotEquals(0, request);
            // No signature yet: the request does not verify (and has no encoding).
            assertEquals(BAD_SIGNATURE, c.XVerifyObjectX(request, pub, 0));
            assertEquals(BAD_SIGNATURE, c.ErrorCode);
            assertEquals(SUBJECT_TEXT, c.XCertReqGetSubjectX(request, 0));
            // Signed afterwards: the request the one call makes.
            assertEquals(OK, c.XSignObjectX(request, key, 4));
            assertEquals(OK, c.ErrorCode);
            assertArrayEquals(signedInOneCall, der(request));
            assertEquals(OK, c.XVerifyObjectX(request, pub, 0));
        }
        assertVerifies("signed later", toolVerify(signedInOneCall));
    }

    @Test
    public void oneCallRefusals() throws Exception {
        long ca = keep(c.XDecodeObjectX(PRIVATEKEY, openssl(null, "rsa", "-in", fixture("ca.key.pem").toString(),
                                                                    "-traditional", "-outform", "DER"),
                                        0));
        assertEquals(OK, c.ErrorCode);
        long cert = keep(decode(c, CERTIFICATE, "user.der"));
        Object[][] cases = {
            // private key, public key, subject, flags, hash, code
            {0L, pub, SUBJECT, 0, 0, BAD_ARGUMENT},       // a signature needs the private key
            {0L, 0L, SUBJECT, NO_SIGN, 0, BAD_ARGUMENT},  // no key at all
            {pub, 0L, SUBJECT, 0, 0, WRONG_HANDLE},       {key, key, SUBJECT, 0, 0, WRONG_HANDLE},
            {cert, 0L, SUBJECT, NO_SIGN, 0, WRONG_HANDLE}, {key, 0L, "CN", 0, 0, BAD_FORMAT},
            {key, 0L, "nokey=x", 0, 0, BAD_FORMAT},       {ca, pub, SUBJECT, 0, 4, KEY_MISMATCH},
            {key, 0L, SUBJECT, 0, 7, SIGN_FAILED},
        };
        for (Object[] k : cases) {
            String what = Arrays.toString(k);
            for (int twin = 0; twin < 2; twin++) {
                c.ErrorCode = OK;
                long h = twin == 0 ? c.XCryptGenerateCertRequest2X((Long) k[0], (Long) k[1], (String) k[2],
                                                                   (Integer) k[3], (Integer) k[4])
                                   : c.WKXCryptGenerateCertRequest2X((Long) k[0], (Long) k[1], (String) k[2],
                                                                     (Integer) k[3], (Integer) k[4]);
                assertEquals(what, 0, h);
                assertEquals(what, k[5], c.ErrorCode);
            }
        }
        // A null or empty subject is a name without entries.
        for (String empty : new String[] {null, ""}) {
            long h = keep(c.XCryptGenerateCertRequestX(key, 0, empty, 0));
            assertEquals(OK, c.ErrorCode);
            assertVerifies("empty subject", toolVerify(der(h)));
            assertEquals(null, c.XCertReqGetSubjectX(h, 0));
            assertEquals(FAILED, c.ErrorCode);
        }
    }

    @Test
    public void requestBuiltBySetters() throws Exception {
        long request = keep(c.XCertReqCreateX());
        assertEquals(OK, c.ErrorCode);
        assertEquals(OK, c.XCertReqSetSubjectX(request, "CN=first"));
        assertEquals(OK, c.XCertReqSetSubjectX(request, SUBJECT));
        assertEquals(OK, c.ErrorCode);
        assertEquals(OK, c.XCertReqSetPublicKeyX(request, pub));
        assertEquals(SUBJECT_TEXT, c.XCertReqGetSubjectX(request, 0));
        assertEquals(OK, c.ErrorCode);
        long back = keep(c.XCertReqGetPublicKeyX(request));
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(read("user.pub.der"), c.XEncodeObjectX(back, PUBLICKEY, 0));

        assertEquals(OK, c.XSignObjectX(request, key, 5));
        String text = toolVerify(der(request));
        assertVerifies("setters", text);
        assertTrue(text, text.contains("Signature Algorithm: sha384WithRSAEncryption"));
        assertTrue(text, text.contains("Subject: " + TOOL_SUBJECT + "\n"));
        // The same fields in one call give the same request.
        assertArrayEquals(der(keep(c.XCryptGenerateCertRequest2X(key, 0, SUBJECT, 0, 5))), der(request));

        // A text that does not read leaves the subject as it was.
        c.ErrorCode = OK;
        assertEquals(BAD_FORMAT, c.XCertReqSetSubjectX(request, "CN=x\nno equals sign"));
        assertEquals(BAD_FORMAT, c.ErrorCode);
        assertTrue(c.XCertReqGetSubjectX(request, 0).startsWith("C=TW\r\n"));
    }

    @Test
    public void emptyRequestAndWrongHandles() throws Exception {
        long request = keep(c.XCertReqCreateX());
        assertEquals(OK, c.ErrorCode);
        // A name without entries has no text.
        assertEquals(null, c.XCertReqGetSubjectX(request, 0));
        assertEquals(FAILED, c.ErrorCode);
        c.ErrorCode = OK;
        assertEquals(0, c.XCertReqGetPublicKeyX(request));
        assertEquals(FAILED, c.ErrorCode);

        long cert = keep(decode(c, CERTIFICATE, "user.der"));
        for (long h : new long[] {cert, 0}) {
            int code = h == 0 ? BAD_ARGUMENT : WRONG_HANDLE;
            c.ErrorCode = OK;
            assertEquals(code, c.XCertReqSetSubjectX(h, SUBJECT));
            assertEquals(code, c.ErrorCode);
            c.ErrorCode = OK;
            assertEquals(code, c.XCertReqSetPublicKeyX(h, pub));
            assertEquals(code, c.ErrorCode);
            c.ErrorCode = OK;
            assertEquals(0, c.XCertReqGetPublicKeyX(h));
            assertEquals(code, c.ErrorCode);
            c.ErrorCode = OK;
            assertEquals(null, c.XCertReqGetSubjectX(h, 0));
            assertEquals(code, c.ErrorCode);
        }
        // The key must be a public key.
        assertEquals(WRONG_HANDLE, c.XCertReqSetPublicKeyX(request, key));
        assertEquals(WRONG_HANDLE, c.ErrorCode);
        assertEquals(BAD_ARGUMENT, c.XCertReqSetPublicKeyX(request, 0));
    }
}
