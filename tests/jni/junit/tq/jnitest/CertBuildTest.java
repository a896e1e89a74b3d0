package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.List;
import java.util.function.IntSupplier;
import java.util.function.LongToIntFunction;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

import org.junit.After;
import org.junit.Before;
import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

public class CertBuildTest {
    static {
        Peer.load();
    }

    static final int BAD_FORMAT = 5045;
    static final int BAD_SIGNATURE = 5036;
    static final int SIGN_FAILED = 5061;
    static final String SUBJECT = "C=TW\nO=Orvane Test\nCN=Built \u00dcser \ud834\udd1e\nE=built@example.org";
    static final String SUBJECT_RFC2253 =
        "emailAddress=built@example.org,CN=Built \u00dcser \ud834\udd1e,O=Orvane Test,C=TW";
    static final String CA_SUBJECT = "C=TW\nO=Orvane Test\nCN=Test Root";

    private final WKP11Crypt c = new WKP11Crypt();
    private final List<Long> handles = new ArrayList<>();
    private long ca, caKey, caPub, key, pub;

    private long keep(long h) {
        handles.add(h);
        return h;
    }

    @Before
    public void objects() throws Exception {
        ca = keep(decode(c, CERTIFICATE, "ca.der"));
        caKey = keep(c.XDecodeObjectX(PRIVATEKEY, openssl(null, "rsa", "-in", fixture("ca.key.pem").toString(),
                                                                 "-traditional", "-outform", "DER"),
                                      0));
        assertEquals(OK, c.ErrorCode);
        caPub = keep(c.XCertGetPublicKeyX(ca));
        key = keep(decode(c, PRIVATEKEY, "user.rsa.der"));
        pub = keep(decode(c, PUBLICKEY, "user.pub.der"));
    }

    @After
    public void release() {
        for (long h : handles) c.XFreeHandleX(h);
    }

    private void ok(int code) {
        assertEquals(OK, code);
        assertEquals(OK, c.ErrorCode);
    }

    /** A certificate with every field set by the setters, not yet signed. */
    private long built() {
        long cert = keep(c.XCertficiateCreateX());
        assertEquals(OK, c.ErrorCode);
        assertNotEquals(0, cert);
        ok(c.XCertSetSerialNumberX(cert, "0123456789ABCDEF01"));
        ok(c.XCertSetIssuerX(cert, ca));
        ok(c.XCertSetSubjectX(cert, "CN=replaced below"));
        ok(c.XCertSetSubjectX(cert, SUBJECT));
        ok(c.XCertSetNotBeforeX(cert, "20240101000000+0000"));
        ok(c.XCertSetNotAfterX(cert, "491231235959+0000"));
        ok(c.XCertSetPubliccKeyX(cert, pub));
        return cert;
    }

    private byte[] der(long cert) {
        byte[] der = c.XEncodeObjectX(cert, CERTIFICATE, 0);
        assertEquals(OK, c.ErrorCode);
        return der;
    }

    private static String x509(byte[] der, String... options) throws Exception {
        List<String> args =
            new ArrayList<>(List.of("x509", "-inform", "DER", "-noout", "-nameopt", "RFC2253,-esc_msb"));
        args.addAll(List.of(options));
        return new String(openssl(der, args.toArray(new String[0])), StandardCharsets.UTF_8);
    }

    /** The tool's chain check against the fixture root. */
    private static Result verify(byte[] der) throws Exception {
        byte[] pem = openssl(der, "x509", "-inform", "DER");
        return run(null, "verify", "-CAfile", fixture("ca.pem").toString(), temp(pem).toString());
    }

    static final String[] SIGNATURES = RequestTest.SIGNATURES;

    @Test
    public void everyFieldSignedUnderEveryHash() throws Exception {
        String caSubject = x509(read("ca.der"), "-subject").trim().substring("subject=".length());
        byte[] publicDer = read("user.pub.der");
        for (int hash = 0; hash < SIGNATURES.length; hash++) {
            String what = "hash " + hash;
            long cert = built();
            ok(c.XSignObjectX(cert, caKey, hash));
            byte[] der = der(cert);
            Result checked = verify(der);
            assertEquals(what + ": " + checked.text(), 0, checked.status);
            String text = x509(der, "-text");
            for (String line : new String[] {
                     "Version: 1 (0x0)", "Serial Number:\n            01:23:45:67:89:ab:cd:ef:01",
                     "Signature Algorithm: " + SIGNATURES[hash], "Issuer: " + caSubject + "\n",
                     "Not Before: Jan  1 00:00:00 2024 GMT", "Not After : Dec 31 23:59:59 2049 GMT",
                     "Subject: " + SUBJECT_RFC2253 + "\n"}) {
                assertTrue(what + ": no " + line + " in\n" + text, text.contains(line));
            }
            byte[] toolKey = x509(der, "-pubkey").getBytes(StandardCharsets.US_ASCII);
            assertArrayEquals(what, publicDer, openssl(toolKey, "pkey", "-pubin", "-outform", "DER"));

            // The signature is the issuer's and no other key's.
            ok(c.XVerifyObjectX(cert, caPub, 0));
            c.ErrorCode = OK;
            assertEquals(what, BAD_SIGNATURE, c.XVerifyObjectX(cert, pub, 0));
            assertEquals(BAD_SIGNATURE, c.ErrorCode);
        }
        // An unknown hash selector signs nothing.
        long cert = built();
        assertEquals(SIGN_FAILED, c.XSignObjectX(cert, caKey, 7));
        assertEquals(SIGN_FAILED, c.ErrorCode);
        assertEquals(BAD_SIGNATURE, c.XVerifyObjectX(cert, caPub, 0));
    }

    @Test
    public void issuerFromCertificateOrText() throws Exception {
        long byText = built();
        ok(c.XCertSetIssuerX(byText, CA_SUBJECT));
        ok(c.XSignObjectX(byText, caKey, 4));
        Result checked = verify(der(byText));
        assertEquals(checked.text(), 0, checked.status);
        assertEquals(c.XCertGetSubjectX(ca, 0), c.XCertGetIssuerX(byText, 0));
        assertEquals(SUBJECT.replace("\n", "\r\n").replace("E=", "Email="), c.XCertGetSubjectX(byText, 0));

        // Another issuer name: the tool finds no issuer for it.
        long other = built();
        ok(c.XCertSetIssuerX(other, "C=TW\nO=Orvane Test\nCN=Someone Else"));
        ok(c.XSignObjectX(other, caKey, 4));
        assertNotEquals(0, verify(der(other)).status);

        // Texts that do not read leave the issuer as it was.
        for (String bad : new String[] {"CN=x\nno equals", "unknownkey=1", " =empty key"}) {
            c.ErrorCode = OK;
            assertEquals(bad, BAD_FORMAT, c.XCertSetIssuerX(other, bad));
            assertEquals(BAD_FORMAT, c.ErrorCode);
            assertEquals(BAD_FORMAT, c.XCertSetSubjectX(other, bad));
        }
        assertEquals(BAD_ARGUMENT, c.XCertSetIssuerX(other, (String) null));
        assertTrue(c.XCertGetIssuerX(other, 0).endsWith("CN=Someone Else"));
    }

    /** The time fields as the tool's DER dump shows them: type and stored text. */
    private static List<String> storedTimes(byte[] der) throws Exception {
        String dump = new String(openssl(der, "asn1parse", "-inform", "DER"), StandardCharsets.US_ASCII);
        Matcher m = Pattern.compile("prim: (UTCTIME|GENERALIZEDTIME) +:(\\S+)").matcher(dump);
        List<String> times = new ArrayList<>();
        while (m.find()) times.add(m.group(1) + " " + m.group(2));
        return times;
    }

    @Test
    public void bothTimeTextLengths() throws Exception {
        String[][] cases = {
            // text, stored, read back
            {"20240101000000+0000", "GENERALIZEDTIME 20240101000000Z", "20240101000000+0000"},
            {"20240101000000-0000", "GENERALIZEDTIME 20240101000000Z", "20240101000000+0000"},
            {"240101000000+0000", "UTCTIME 240101000000Z", "20240101000000+0000"},
            {"491231235959-0000", "UTCTIME 491231235959Z", "20491231235959+0000"},
            {"20240101090000+0900", "GENERALIZEDTIME 20240101090000+0900", "20240101090000+0900"},
            {"240101000000-0130", "UTCTIME 240101000000-0130", "20240101000000-0130"},
        };
        for (String[] k : cases) {
            long cert = built();
            ok(c.XCertSetNotBeforeX(cert, k[0]));
            ok(c.XCertSetNotAfterX(cert, k[0]));
            ok(c.XSignObjectX(cert, caKey, 4));
            assertEquals(k[0], List.of(k[1], k[1]), storedTimes(der(cert)));
            assertEquals(k[0], k[2], c.XCertGetNotBeforeX(cert, 0));
            assertEquals(k[0], k[2], c.XCertGetNotAfterX(cert, 0));
        }
        long cert = built();
        for (String bad : new String[] {"2024010100000+0000", "20240101000000+00000", "", "20241301000000+0000",
                                        "241301000000+0000", "20240101000000+1300", "2024010100000a+0000"}) {
            c.ErrorCode = OK;
            assertEquals(bad, BAD_FORMAT, c.XCertSetNotBeforeX(cert, bad));
            assertEquals(BAD_FORMAT, c.ErrorCode);
            assertEquals(bad, BAD_FORMAT, c.XCertSetNotAfterX(cert, bad));
        }
        ok(c.XSignObjectX(cert, caKey, 4));
        assertEquals(List.of("GENERALIZEDTIME 20240101000000Z", "UTCTIME 491231235959Z"), storedTimes(der(cert)));
    }

    @Test
    public void serialNumbers() throws Exception {
        String[][] cases = {{"00FF", "FF"}, {"ABC", "0ABC"}, {"80a1b2", "80A1B2"}, {"0", "00"}, {"0001", "01"},
                            {"7F" + "01".repeat(1023), "7F" + "01".repeat(1023)}};
        for (String[] k : cases) {
            long cert = built();
            ok(c.XCertSetSerialNumberX(cert, k[0]));
            ok(c.XSignObjectX(cert, caKey, 4));
            assertEquals(k[0], "serial=" + k[1], x509(der(cert), "-serial").replace("\\\n", "").trim());
            assertEquals(k[0], k[1].toLowerCase(), hex(c.XCertGetSerialNumberX(cert, 0)));
        }
        long cert = built();
        Object[][] bad = {{"12G4", BAD_FORMAT}, {"0x12", BAD_FORMAT}, {"1".repeat(2049), BUFFER_TOO_SMALL}};
        for (Object[] k : bad) {
            c.ErrorCode = OK;
            assertEquals(k[1], c.XCertSetSerialNumberX(cert, (String) k[0]));
            assertEquals(k[1], c.ErrorCode);
        }
        assertEquals("0123456789abcdef01", hex(c.XCertGetSerialNumberX(cert, 0)));
    }

    @Test
    public void signingAndVerifyingTheToolsObjects() throws Exception {
        long user = keep(decode(c, CERTIFICATE, "user.der"));
        ok(c.XVerifyObjectX(user, caPub, 0));
        assertEquals(BAD_SIGNATURE, c.XVerifyObjectX(user, pub, 0));
        // Signed again by another key: that key's signature, the tool's chain check refuses it.
        ok(c.XSignObjectX(user, key, 4));
        ok(c.XVerifyObjectX(user, pub, 0));
        assertEquals(BAD_SIGNATURE, c.XVerifyObjectX(user, caPub, 0));
        assertNotEquals(0, verify(der(user)).status);

        long crl = keep(decode(c, CRL, "crl.der"));
        ok(c.XVerifyObjectX(crl, caPub, 0));
        ok(c.XSignObjectX(crl, caKey, 6));
        ok(c.XVerifyObjectX(crl, caPub, 0));
        byte[] signed = c.XEncodeObjectX(crl, CRL, 0);
        String text = RequestTest.withVerdict(signed, "crl", "-inform", "DER", "-noout", "-text", "-CAfile",
                                              fixture("ca.pem").toString());
        assertTrue(text, text.contains("verify OK"));
        assertTrue(text, text.contains("Signature Algorithm: sha512WithRSAEncryption"));
    }

    @Test
    public void wrongHandleKinds() throws Exception {
        long request = keep(decode(c, CERTREQUEST, "user.csr.der"));
        long p7 = keep(decode(c, PKCS7, "signed.p7.der"));
        long cert = built();
        List<LongToIntFunction> setters = List.of(
            h -> c.XCertSetSerialNumberX(h, "01"), h -> c.XCertSetIssuerX(h, ca),
            h -> c.XCertSetIssuerX(h, CA_SUBJECT), h -> c.XCertSetSubjectX(h, SUBJECT),
            h -> c.XCertSetNotBeforeX(h, "20240101000000+0000"),
            h -> c.XCertSetNotAfterX(h, "20240101000000+0000"),
            h -> c.XCertSetPubliccKeyX(h, pub));
        for (long h : new long[] {request, 0}) {
            for (int i = 0; i < setters.size(); i++) {
                String what = "setter " + i + " on " + (h == 0 ? "no handle" : "a request");
                c.ErrorCode = OK;
                int code = h == 0 ? BAD_ARGUMENT : WRONG_HANDLE;
                assertEquals(what, code, setters.get(i).applyAsInt(h));
                assertEquals(what, code, c.ErrorCode);
            }
        }
        // Arguments of the wrong kind, each with its code.
        List<IntSupplier> calls = List.of(
            () -> c.XCertSetIssuerX(cert, request), () -> c.XCertSetIssuerX(cert, 0L),
            () -> c.XCertSetPubliccKeyX(cert, key), () -> c.XCertSetPubliccKeyX(cert, ca),
            () -> c.XCertSetPubliccKeyX(cert, 0), () -> c.XSignObjectX(cert, pub, 4),
            () -> c.XSignObjectX(cert, 0, 4), () -> c.XSignObjectX(p7, key, 4), () -> c.XSignObjectX(key, key, 4),
            () -> c.XSignObjectX(0, key, 4), () -> c.XVerifyObjectX(ca, key, 0), () -> c.XVerifyObjectX(ca, 0, 0),
            () -> c.XVerifyObjectX(p7, pub, 0));
        int[] codes = {WRONG_HANDLE, BAD_ARGUMENT, WRONG_HANDLE, WRONG_HANDLE, BAD_ARGUMENT, WRONG_HANDLE,
                       BAD_ARGUMENT, WRONG_HANDLE, WRONG_HANDLE, BAD_ARGUMENT, WRONG_HANDLE, BAD_ARGUMENT,
                       WRONG_HANDLE};
        for (int i = 0; i < codes.length; i++) {
            c.ErrorCode = OK;
            assertEquals("call " + i, codes[i], calls.get(i).getAsInt());
            assertEquals("call " + i, codes[i], c.ErrorCode);
        }
        // Nothing was set by the refused calls.
        ok(c.XSignObjectX(cert, caKey, 4));
        assertEquals(0, verify(der(cert)).status);
    }
}
