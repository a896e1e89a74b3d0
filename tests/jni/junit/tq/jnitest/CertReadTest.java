package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.function.LongFunction;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

public class CertReadTest {
    static {
        Peer.load();
    }

    static final int NOT_PRESENT = 5050;

    private final WKP11Crypt c = new WKP11Crypt();

    static Path x509(String name) {
        return Paths.get(System.getenv("TQ_FIXTURES"), "x509", name);
    }

    /** A certificate of the x509 set, made DER by the tool whatever its form. */
    private long cert(Path file) throws Exception {
        String form = file.toString().endsWith(".der") ? "DER" : "PEM";
        byte[] der = openssl(null, "x509", "-inform", form, "-in", file.toString(), "-outform", "DER");
        long h = c.XDecodeObjectX(CERTIFICATE, der, 0);
        assertEquals(file.toString(), OK, c.ErrorCode);
        return h;
    }

    private static String tool(Path file, String... options) throws Exception {
        List<String> args = new ArrayList<>(List.of("x509", "-noout", "-in", file.toString()));
        if (file.toString().endsWith(".der")) args.addAll(List.of("-inform", "DER"));
        args.addAll(List.of(options));
        return new String(openssl(null, args.toArray(new String[0])), StandardCharsets.UTF_8);
    }

    /** The tool's one-line-per-attribute name as the library writes it: CR LF between, "Email". */
    private static String toolName(Path file, String which) throws Exception {
        String[] lines = tool(file, "-" + which, "-nameopt", "sep_multiline,sname,utf8").split("\n");
        StringBuilder s = new StringBuilder();
        for (int i = 1; i < lines.length; i++) {
            String line = lines[i].trim();
            if (line.startsWith("emailAddress=")) line = "Email=" + line.substring(13);
            if (s.length() > 0) s.append("\r\n");
            s.append(line);
        }
        return s.toString();
    }

    @Test
    public void namesAsJavaText() throws Exception {
        Path[] files = {fixture("user.pem"), x509("names.pem"), x509("ca.pem"), x509("ec.pem")};
        for (Path file : files) {
            long h = cert(file);
            c.ErrorCode = -1;
            assertEquals(file.toString(), toolName(file, "subject"), c.XCertGetSubjectX(h, 0));
            assertEquals(OK, c.ErrorCode);
            assertEquals(file.toString(), toolName(file, "issuer"), c.XCertGetIssuerX(h, 0));
            c.XFreeHandleX(h);
        }
        // A BMPString value and a character outside the BMP reach Java as text.
        long wide = cert(x509("wide.der"));
        String subject = c.XCertGetSubjectX(wide, 0);
        assertEquals(OK, c.ErrorCode);
        assertTrue(subject, subject.contains("\r\nCN=\u00e9A\r\n"));
        assertTrue(subject, subject.contains("\r\nO=Zo\u00eb \ud834\udd1e\r\nOU=after\r\n"));
        c.XFreeHandleX(wide);
    }

    /** "notBefore=1949-12-31 23:59:59Z" as the library's time text. */
    private static String toolTime(String line) {
        return line.substring(line.indexOf('=') + 1).replaceAll("[^0-9]", "") + "+0000";
    }

    @Test
    public void validityInBothTimeForms() throws Exception {
        // GeneralizedTime (wide.der, 1949 and 2050) and UTCTime at both ends of its range (utc.der).
        for (Path file : new Path[] {x509("wide.der"), x509("utc.der"), x509("names.pem"), fixture("user.pem")}) {
            String[] dates = tool(file, "-dates", "-dateopt", "iso_8601").split("\n");
            long h = cert(file);
            String before = c.XCertGetNotBeforeX(h, 0);
            assertEquals(OK, c.ErrorCode);
            assertEquals(19, before.length());
            assertEquals(file.toString(), toolTime(dates[0]), before);
            assertEquals(file.toString(), toolTime(dates[1]), c.XCertGetNotAfterX(h, 0));
            c.XFreeHandleX(h);
        }
        long wide = cert(x509("wide.der"));
        assertEquals("19491231235959+0000", c.XCertGetNotBeforeX(wide, 0));
        c.XFreeHandleX(wide);
    }

    @Test
    public void serialsWithHighFirstBytes() throws Exception {
        for (String serial : new String[] {"0", "128", "255", "0xFFFFFFFFFFFFFFFFFF",
                                           "0x7F0102030405060708090A0B0C0D0E0F10111213", "-256"}) {
            Path file = x509("serial." + serial + ".pem");
            String expected = tool(file, "-serial").trim().substring(7).replace("-", "");
            long h = cert(file);
            c.ErrorCode = -1;
            assertEquals(serial, expected.toLowerCase(), hex(c.XCertGetSerialNumberX(h, 0)));
            assertEquals(OK, c.ErrorCode);
            c.XFreeHandleX(h);
        }
    }

    private static final String[] HASHES = {"sha1", "md5", "sha1", "sha224", "sha256", "sha384", "sha512"};

    @Test
    public void fingerprintsForEveryHashSelector() throws Exception {
        Path file = fixture("user.pem");
        long h = cert(file);
        for (int selector = 0; selector < HASHES.length; selector++) {
            String line = tool(file, "-fingerprint", "-" + HASHES[selector]).trim();
            c.ErrorCode = -1;
            assertEquals(HASHES[selector], line.substring(line.indexOf('=') + 1).replace(":", "").toLowerCase(),
                         hex(c.XCertGetDigestX(h, selector)));
            assertEquals(OK, c.ErrorCode);
        }
        c.ErrorCode = OK;
        assertNull(c.XCertGetDigestX(h, 7));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        c.XFreeHandleX(h);
    }

    @Test
    public void publicKeyEqualsTheTools() throws Exception {
        for (Path file : new Path[] {fixture("user.pem"), x509("ec.pem")}) {
            long h = cert(file);
            long key = c.XCertGetPublicKeyX(h);
            assertEquals(OK, c.ErrorCode);
            assertNotEquals(0, key);
            byte[] pem = tool(file, "-pubkey").getBytes(StandardCharsets.US_ASCII);
            byte[] theirs = openssl(pem, "pkey", "-pubin", "-outform", "DER");
            byte[] ours = c.XEncodeObjectX(key, PUBLICKEY, 0);
            assertEquals(OK, c.ErrorCode);
            assertArrayEquals(file.toString(), theirs, openssl(ours, "pkey", "-pubin", "-inform", "DER",
                                                               "-outform", "DER"));
            c.XFreeHandleX(key);
            c.XFreeHandleX(h);
        }
    }

    private static final String[][] USAGES = {
        {"Digital Signature", "80"}, {"Non Repudiation", "40"}, {"Key Encipherment", "20"},
        {"Data Encipherment", "10"}, {"Key Agreement", "08"},   {"Certificate Sign", "04"},
        {"CRL Sign", "02"},          {"Encipher Only", "01"},   {"Decipher Only", "8000"}};

    private static int toolKeyUsage(Path file) throws Exception {
        String[] lines = tool(file, "-ext", "keyUsage").split("\n");
        int bits = 0;
        for (String name : lines[1].trim().split(", ")) {
            boolean known = false;
            for (String[] u : USAGES) {
                if (u[0].equals(name)) {
                    bits |= Integer.parseInt(u[1], 16);
                    known = true;
                }
            }
            assertTrue(name, known);
        }
        return bits;
    }

    @Test
    public void keyUsageBits() throws Exception {
        for (Path file : new Path[] {fixture("user.pem"), x509("ext.full.pem"), x509("ext.kdra.pem")}) {
            long h = cert(file);
            c.ErrorCode = -1;
            assertEquals(file.toString(), toolKeyUsage(file), c.XCertGetKeyUsagesX(h));
            assertEquals(OK, c.ErrorCode);
            c.XFreeHandleX(h);
        }
        long none = cert(x509("names.pem"));
        assertEquals(0, c.XCertGetKeyUsagesX(none));
        assertEquals(NOT_PRESENT, c.ErrorCode);
        c.XFreeHandleX(none);
    }

    /** Every getter on a handle of the wrong kind and on no handle: null or 0, and the code. */
    @Test
    public void wrongAndMissingHandles() throws Exception {
        List<LongFunction<Object>> getters = List.of(
            h -> c.XCertGetSubjectX(h, 0), h -> c.XCertGetIssuerX(h, 0), h -> c.XCertGetNotBeforeX(h, 0),
            h -> c.XCertGetNotAfterX(h, 0), h -> c.XCertGetSerialNumberX(h, 0), h -> c.XCertGetDigestX(h, 4),
            h -> c.XCertGetPublicKeyX(h), h -> c.XCertGetKeyUsagesX(h));
        long crl = c.XDecodeObjectX(CRL, read("crl.der"), 0);
        assertEquals(OK, c.ErrorCode);
        for (long h : new long[] {crl, 0}) {
            for (int i = 0; i < getters.size(); i++) {
                String what = "getter " + i + " on " + (h == 0 ? "no handle" : "a CRL");
                c.ErrorCode = OK;
                Object got = getters.get(i).apply(h);
                assertTrue(what + ": " + got, got == null || got.equals(0L) || got.equals(0));
                assertEquals(what, h == 0 ? BAD_ARGUMENT : WRONG_HANDLE, c.ErrorCode);
            }
        }
        c.XFreeHandleX(crl);
    }
}
