package tq.jnitest;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNull;
import static tq.jnitest.Peer.*;

import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

/** The short texts of eight extensions against what the tool reads in them. */
public class SummaryTest {
    static {
        Peer.load();
    }

    static final int BAD_FORMAT = 5045;
    static final int NOT_PRESENT = 5050;
    static final int DISTRIBUTION_POINT = 1, POLICY = 2, ACCESS = 3, AUTHORITY_KEY_ID = 4, SUBJECT_KEY_ID = 5,
                     BASIC_CONSTRAINTS = 6, KEY_USAGE = 7, ALT_NAME = 8;

    private final WKP11Crypt c = new WKP11Crypt();

    static Path x509(String name) {
        return Paths.get(System.getenv("TQ_FIXTURES"), "x509", name);
    }

    private long cert(String name) throws Exception {
        String form = name.endsWith(".der") ? "DER" : "PEM";
        byte[] der = openssl(null, "x509", "-inform", form, "-in", x509(name).toString(), "-outform", "DER");
        long h = c.XDecodeObjectX(CERTIFICATE, der, 0);
        assertEquals(name, OK, c.ErrorCode);
        return h;
    }

    private static String ext(String name, String extension) throws Exception {
        return new String(openssl(null, "x509", "-noout", "-in", x509(name).toString(), "-ext", extension),
                          StandardCharsets.UTF_8);
    }

    /** The first capture of the pattern in the tool's rendering of one extension. */
    private static String first(String name, String extension, String pattern) throws Exception {
        String text = ext(name, extension);
        Matcher m = Pattern.compile(pattern).matcher(text);
        assertEquals(text, true, m.find());
        return m.group(1);
    }

    private String summary(long cert, int selector) {
        c.ErrorCode = -1;
        String text = c.XCertGetExtensionX(cert, selector);
        assertEquals("selector " + selector, OK, c.ErrorCode);
        return text;
    }

    @Test
    public void everySelectorOfTheSummaryProfile() throws Exception {
        String name = "ext.kdra.pem";
        long h = cert(name);
        assertEquals(first(name, "crlDistributionPoints", "Full Name:\\s+URI:(\\S+)"),
                     summary(h, DISTRIBUTION_POINT));
        String policies = "certificatePolicies";
        assertEquals(first(name, policies, "Policy: (\\S+)") + "\n" + first(name, policies, "CPS: (\\S+)") + "\n" +
                         first(name, policies, "Explicit Text: (.+)\n") + "\n",
                     summary(h, POLICY));
        assertEquals(first(name, "authorityInfoAccess", "OCSP - URI:(\\S+)"), summary(h, ACCESS));
        String akid = first(name, "authorityKeyIdentifier", "\n\\s+(?:keyid:)?([0-9A-F:]+)\n");
        assertEquals(akid.replace(":", "").substring(0, 16), summary(h, AUTHORITY_KEY_ID));
        String skid = first(name, "subjectKeyIdentifier", "\n\\s+([0-9A-F:]+)\n");
        assertEquals(skid.replace(":", "").substring(0, 16), summary(h, SUBJECT_KEY_ID));
        assertEquals("0\n0\n", summary(h, BASIC_CONSTRAINTS));
        // digitalSignature and nonRepudiation: the top two bits of the first byte.
        assertEquals("Digital Signature, Non Repudiation", first(name, "keyUsage", "\n\\s+(.+)\n"));
        assertEquals(String.valueOf(0x80 | 0x40), summary(h, KEY_USAGE));
        assertEquals(first(name, "subjectAltName", "email:([^,\\s]+)"), summary(h, ALT_NAME));
        c.XFreeHandleX(h);
    }

    /** The flag, then each content byte of the path length in "%X", as the summary writes them. */
    private static String toolConstraints(String name) throws Exception {
        String text = ext(name, "basicConstraints");
        boolean ca = text.contains("CA:TRUE");
        Matcher m = Pattern.compile("pathlen:(\\d+)").matcher(text);
        StringBuilder path = new StringBuilder();
        if (m.find()) {
            for (byte b : new BigInteger(m.group(1)).toByteArray())
                path.append(Integer.toHexString(b & 0xff).toUpperCase());
        } else {
            path.append('0');
        }
        return (ca ? "1" : "0") + "\n" + path + "\n";
    }

    @Test
    public void basicConstraintsForms() throws Exception {
        String[][] cases = {{"ext.full.pem", "1\n0\n"},
                            {"ext.noqual.pem", "1\nA\n"},
                            {"ext.bc_256.pem", "1\n10\n"},
                            {"ext.bc_false.pem", "0\n0\n"}, {"ext.bc_ca.pem", "1\n0\n"}};
        for (String[] k : cases) {
            long h = cert(k[0]);
            assertEquals(k[0], toolConstraints(k[0]), k[1]);
            assertEquals(k[0], k[1], summary(h, BASIC_CONSTRAINTS));
            c.XFreeHandleX(h);
        }
    }

    /** Alternative names the bytes of which are no UTF-8 text still reach Java as valid text. */
    @Test
    public void altNameBytesThatAreNoText() throws Exception {
        Path dir = java.nio.file.Files.createTempDirectory("tqsummary");
        String key = dir.resolve("k.pem").toString(), pem = dir.resolve("c.pem").toString();
        openssl(null, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-subj", "/CN=IPv6", "-days",
                "2", "-addext", "subjectAltName=IP:2001:db8::1,DNS:later.example.org", "-outform", "DER", "-out",
                pem);
        long h = c.XDecodeObjectX(CERTIFICATE, java.nio.file.Files.readAllBytes(Paths.get(pem)), 0);
        assertEquals(OK, c.ErrorCode);
        // 20 01 0D B8 00 ...: the text ends at the zero byte, and B8 starts no UTF-8 sequence.
        assertEquals(" \u0001\r\ufffd", summary(h, ALT_NAME));
        c.XFreeHandleX(h);
    }

    @Test
    public void absentEmptyAndRefused() throws Exception {
        // A certificate without extensions (the tool adds key identifiers to its own).
        long none = cert("utc.der");
        for (int selector = DISTRIBUTION_POINT; selector <= ALT_NAME; selector++) {
            c.ErrorCode = OK;
            assertNull(c.XCertGetExtensionX(none, selector));
            assertEquals("selector " + selector, NOT_PRESENT, c.ErrorCode);
        }
        long empty = cert("ext.empty.pem");
        assertNull(c.XCertGetExtensionX(empty, ALT_NAME));
        assertEquals(BAD_FORMAT, c.ErrorCode);
        for (int selector : new int[] {0, 9, -1}) {
            c.ErrorCode = OK;
            assertNull(c.XCertGetExtensionX(empty, selector));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
        }
        long crl = c.XDecodeObjectX(CRL, read("crl.der"), 0);
        for (long h : new long[] {crl, 0}) {
            c.ErrorCode = OK;
            assertNull(c.XCertGetExtensionX(h, BASIC_CONSTRAINTS));
            assertEquals(h == 0 ? BAD_ARGUMENT : WRONG_HANDLE, c.ErrorCode);
        }
        c.XFreeHandleX(crl);
        c.XFreeHandleX(empty);
        c.XFreeHandleX(none);
    }
}
