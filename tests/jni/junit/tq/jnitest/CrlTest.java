package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;

import java.io.ByteArrayOutputStream;
import java.io.InputStream;
import java.net.URL;
import java.net.URLClassLoader;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.LocalDateTime;
import java.time.ZoneOffset;
import java.time.format.DateTimeFormatter;
import java.util.ArrayList;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Locale;
import java.util.Map;
import java.util.concurrent.TimeUnit;

import org.junit.After;
import org.junit.Test;

import com.tq.pki.X509Revoked;
import com.vandrelot.crypto.WKP11Crypt;

/**
 * CRLs read from what openssl ca wrote, and CRLs built by the setters that
 * the openssl tool then verifies and prints.
 */
public class CrlTest {
    static {
        Peer.load();
    }

    static final int FAILED = 5001, BAD_FORMAT = 5045, NOT_PRESENT = 5050;
    static final int REVOKED = 5020, KEY_COMPROMISE = 5021, CA_COMPROMISE = 5022, AFFILIATION_CHANGED = 5023,
                     SUPERSEDED = 5024, CESSATION = 5025, CERTIFICATE_HOLD = 5026, REMOVE_FROM_CRL_INPUT = 5027,
                     REMOVE_FROM_CRL = 5028;
    static final int SHA256 = 4;

    /** The reasons as the tool prints them, and the codes the library reports for them. */
    static final Map<String, Integer> REASONS = Map.of("Unspecified", REVOKED, "Key Compromise", KEY_COMPROMISE,
                                                       "CA Compromise", CA_COMPROMISE, "Affiliation Changed",
                                                       AFFILIATION_CHANGED, "Superseded", SUPERSEDED,
                                                       "Cessation Of Operation", CESSATION, "Certificate Hold",
                                                       CERTIFICATE_HOLD, "Remove From CRL", REMOVE_FROM_CRL);

    private final WKP11Crypt c = new WKP11Crypt();
    private final List<Long> handles = new ArrayList<>();

    @After
    public void release() {
        for (long h : handles) c.XFreeHandleX(h);
    }

    static Path revocations(String name) {
        return Paths.get(System.getenv("TQ_FIXTURES"), "revocations", name);
    }

    private long decoded(int kind, String name) throws Exception {
        long h = c.XDecodeObjectX(kind, Files.readAllBytes(revocations(name)), 0);
        assertEquals(name, OK, c.ErrorCode);
        handles.add(h);
        return h;
    }

    private long created() {
        long h = c.XCRLCreateX();
        assertEquals(OK, c.ErrorCode);
        handles.add(h);
        return h;
    }

    /** One entry as the tool prints it. */
    static final class Listed {
        String date;
        int reason = REVOKED;  // no reason extension reads as unspecified
    }

    static final DateTimeFormatter TOOL_DATE = DateTimeFormatter.ofPattern("MMM ppd HH:mm:ss yyyy 'GMT'",
                                                                             Locale.ENGLISH);
    static final DateTimeFormatter TIME_TEXT = DateTimeFormatter.ofPattern("yyyyMMddHHmmss'+0000'");

    static String timeText(String toolDate) {
        return LocalDateTime.parse(toolDate.trim(), TOOL_DATE).format(TIME_TEXT);
    }

    /** The entries of a CRL in the tool's order, by serial as the tool writes it (upper-case hex). */
    static Map<String, Listed> toolEntries(String text) {
        Map<String, Listed> entries = new LinkedHashMap<>();
        Listed current = null;
        String[] lines = text.split("\n");
        for (int i = 0; i < lines.length; i++) {
            String line = lines[i].trim();
            if (line.startsWith("Serial Number: ")) {
                current = new Listed();
                entries.put(line.substring(15), current);
            } else if (current != null && line.startsWith("Revocation Date: ")) {
                current.date = timeText(line.substring(17));
            } else if (current != null && line.startsWith("X509v3 CRL Reason Code:")) {
                Integer code = REASONS.get(lines[i + 1].trim());
                assertNotNull(lines[i + 1], code);
                current.reason = code;
            }
        }
        return entries;
    }

    /** The tool's text and verdict together: openssl crl writes its verdict to the error stream. */
    static String toolCrl(Path crl, Path issuer) throws Exception {
        Process p = new ProcessBuilder("timeout", "60", "openssl", "crl", "-inform", "DER", "-in", crl.toString(),
                                       "-CAfile", issuer.toString(), "-text", "-noout")
                        .redirectErrorStream(true)
                        .start();
        p.getOutputStream().close();
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        try (InputStream s = p.getInputStream()) {
            s.transferTo(out);
        }
        assertTrue(p.waitFor(90, TimeUnit.SECONDS));
        assertEquals(0, p.exitValue());
        return out.toString(StandardCharsets.UTF_8);
    }

    static String toolLine(Path crl, String option) throws Exception {
        String line = new String(openssl(null, "crl", "-inform", "DER", "-in", crl.toString(), "-noout", option),
                                 StandardCharsets.US_ASCII).trim();
        return line.substring(line.indexOf('=') + 1);
    }

    @Test
    public void entriesOfTheToolsCrlReadBack() throws Exception {
        long crl = decoded(CRL, "crl.der");
        long ca = decoded(CERTIFICATE, "ca.der");
        Map<String, Listed> listed = toolEntries(toolCrl(revocations("crl.der"), revocations("ca.pem")));
        assertEquals(9, listed.size());

        c.ErrorCode = -1;
        assertEquals(listed.size(), c.XCRLRevokedCountX(crl));
        assertEquals(OK, c.ErrorCode);
        int index = 0;
        for (Map.Entry<String, Listed> e : listed.entrySet()) {
            c.ErrorCode = -1;
            X509Revoked entry = c.XCRLGetRevokedInfoX(crl, index++);
            assertEquals(OK, c.ErrorCode);
            assertNotNull(e.getKey(), entry);
            // The tool pads to whole bytes; the serial bytes carry no sign byte.
            assertArrayEquals(e.getKey(), unhex(e.getKey()), entry.serialNumber);
            assertEquals(e.getKey(), e.getValue().date, entry.revocationDate);
            assertEquals(e.getKey(), e.getValue().reason, entry.reason);
        }
        for (int past : new int[] {listed.size(), listed.size() + 1, -1}) {
            c.ErrorCode = -1;
            assertNull(c.XCRLGetRevokedInfoX(crl, past));
            assertEquals(FAILED, c.ErrorCode);
        }

        assertEquals(c.XCertGetSubjectX(ca, 0), c.XCRLGetIssuerX(crl, 0));
        assertEquals(OK, c.ErrorCode);
        assertEquals(timeText(toolLine(revocations("crl.der"), "-lastupdate")), c.XCRLGetLastUpdateX(crl, 0));
        assertEquals(OK, c.ErrorCode);
        assertEquals(timeText(toolLine(revocations("crl.der"), "-nextupdate")), c.XCRLGetNextUpdateX(crl, 0));
        assertEquals(OK, c.ErrorCode);
    }

    @Test
    public void lookupsByTextGiveTheBytesTheCertificateFormGives() throws Exception {
        long crl = decoded(CRL, "crl.der");
        Object[][] cases = {
            // text, the certificate with that serial, the reported reason
            {"8F1234", "8F1234", KEY_COMPROMISE},  // high first byte: no sign byte in the result
            {"8f1234", "8F1234", KEY_COMPROMISE},
            {"ABC", "ABC", CA_COMPROMISE},          // odd digit count
            {"0abc", "ABC", CA_COMPROMISE},
            {"000102", "0102", AFFILIATION_CHANGED},  // leading zero bytes
            {"102", "0102", AFFILIATION_CHANGED},
            {"0000000005", "05", SUPERSEDED},
            {"5", "05", SUPERSEDED},
            {"7E01", "7E01", CESSATION},
            {"A0B", "0A0B", CERTIFICATE_HOLD},
            {"3A4B5C", "3A4B5C", REMOVE_FROM_CRL},
            {"11", "11", REVOKED},
            {"022", "22", REVOKED},  // listed without a reason
        };
        for (Object[] t : cases) {
            String text = (String) t[0];
            long cert = decoded(CERTIFICATE, "leaf." + t[1] + ".der");
            c.ErrorCode = -1;
            X509Revoked byText = c.XCRLRevokedX(crl, text);
            assertEquals(text, OK, c.ErrorCode);
            assertNotNull(text, byText);
            c.ErrorCode = -1;
            X509Revoked byCert = c.XCRLRevokedX(crl, cert);
            assertEquals(text, OK, c.ErrorCode);
            assertNotNull(text, byCert);
            assertArrayEquals(text, c.XCertGetSerialNumberX(cert, 0), byCert.serialNumber);
            assertArrayEquals(text, byCert.serialNumber, byText.serialNumber);
            assertEquals(text, t[2], byText.reason);
            assertEquals(text, t[2], byCert.reason);
            assertEquals(text, byCert.revocationDate, byText.revocationDate);
            assertEquals(text, 19, byText.revocationDate.length());
        }

        // Not listed: null with 0 stored.
        long issued = decoded(CERTIFICATE, "leaf.99.der");
        long ca = decoded(CERTIFICATE, "ca.der");
        for (long cert : new long[] {issued, ca}) {
            c.ErrorCode = -1;
            assertNull(c.XCRLRevokedX(crl, cert));
            assertEquals(OK, c.ErrorCode);
        }
        for (String text : new String[] {"99", "008F1234FF", "0"}) {
            c.ErrorCode = -1;
            assertNull(text, c.XCRLRevokedX(crl, text));
            assertEquals(text, OK, c.ErrorCode);
        }

        // Texts the lookup refuses.
        Object[][] refused = {{"12 34", BAD_FORMAT}, {"0x12", BAD_FORMAT}, {"", BAD_FORMAT},
                              {"\u00e9", BAD_FORMAT}, {"1".repeat(2049), BUFFER_TOO_SMALL}, {null, BAD_ARGUMENT}};
        for (Object[] t : refused) {
            c.ErrorCode = -1;
            assertNull(String.valueOf(t[0]), c.XCRLRevokedX(crl, (String) t[0]));
            assertEquals(String.valueOf(t[0]), t[1], c.ErrorCode);
        }
    }

    static String utc(LocalDateTime t) {
        return t.format(DateTimeFormatter.ofPattern("yyMMddHHmmss'+0000'"));
    }

    static String generalized(LocalDateTime t) {
        return t.format(TIME_TEXT);
    }

    /** A CRL of the fixture CA built by the setters, signed and written as DER. */
    private Path builtAndSigned(long crl) throws Exception {
        long key = decoded(PRIVATEKEY, "ca.rsa.der");
        c.ErrorCode = -1;
        assertEquals(OK, c.XSignObjectX(crl, key, SHA256));
        assertEquals(OK, c.ErrorCode);
        byte[] der = c.XEncodeObjectX(crl, CRL, 0);
        assertEquals(OK, c.ErrorCode);
        return temp(der);
    }

    /** openssl verify with the CRL: the leaf's verdict. */
    static Result verified(Path crl, String leaf) throws Exception {
        Path pem = temp(openssl(null, "crl", "-inform", "DER", "-in", crl.toString()));
        return run(null, "verify", "-crl_check", "-CAfile", revocations("ca.pem").toString(), "-CRLfile",
                   pem.toString(), revocations(leaf).toString());
    }

    @Test
    public void builtBySettersSortedSignedAndVerifiedByTheTool() throws Exception {
        LocalDateTime now = LocalDateTime.now(ZoneOffset.UTC).withNano(0);
        LocalDateTime last = now.minusDays(1), next = now.plusDays(30), revoked = now.minusHours(5);
        long ca = decoded(CERTIFICATE, "ca.der");
        long byCert = decoded(CERTIFICATE, "leaf.05.der");
        long unlisted = decoded(CERTIFICATE, "leaf.99.der");
        Object[][] issuers = {{ca, "certificate"}, {"C=TW\nO=Orvane Test\nCN=Revoking CA", "DN text"}};
        for (Object[] issuer : issuers) {
            String what = (String) issuer[1];
            long crl = created();
            c.ErrorCode = -1;
            int code = issuer[0] instanceof Long ? c.XCRLSetIssuerX(crl, (long) (Long) issuer[0])
                                                 : c.XCRLSetIssuerX(crl, (String) issuer[0]);
            assertEquals(what, OK, code);
            assertEquals(what, OK, c.ErrorCode);
            // The long form is a GeneralizedTime, the short one a UTCTime.
            assertEquals(OK, c.XCRLSetLastUpdateX(crl, generalized(last)));
            assertEquals(OK, c.XCRLSetNextUpdateX(crl, utc(next)));
            Object[][] entries = {
                {"8F1234", generalized(revoked), KEY_COMPROMISE},
                {"0abc", utc(revoked), 4},  // a raw reason value
                {byCert, generalized(revoked), REMOVE_FROM_CRL_INPUT},
                {"11", utc(revoked), 0},  // no reason extension
                {"0102", utc(revoked), REVOKED},
            };
            for (Object[] e : entries) {
                c.ErrorCode = -1;
                code = e[0] instanceof Long ? c.XCRLAddRevokedX(crl, (long) (Long) e[0], (String) e[1], (int) e[2])
                                            : c.XCRLAddRevokedX(crl, (String) e[0], (String) e[1], (int) e[2]);
                assertEquals(what + " " + e[0], OK, code);
                assertEquals(OK, c.ErrorCode);
            }
            assertEquals(entries.length, c.XCRLRevokedCountX(crl));
            // Entries stay in the order they were added until sorted.
            assertArrayEquals(unhex("8F1234"), c.XCRLGetRevokedInfoX(crl, 0).serialNumber);
            c.ErrorCode = -1;
            assertEquals(OK, c.XCRLSortRevoked(crl, 0));
            assertEquals(OK, c.ErrorCode);
            String[] sorted = {"05", "11", "0102", "0ABC", "8F1234"};
            for (int i = 0; i < sorted.length; i++)
                assertArrayEquals(sorted[i], unhex(sorted[i]), c.XCRLGetRevokedInfoX(crl, i).serialNumber);
            // The sorted list is searched binarily: each entry is still found.
            for (String s : sorted) assertNotNull(s, c.XCRLRevokedX(crl, s));
            assertNull(c.XCRLRevokedX(crl, "0C"));
            assertEquals(OK, c.ErrorCode);
            X509Revoked removed = c.XCRLRevokedX(crl, byCert);
            assertEquals(REMOVE_FROM_CRL, removed.reason);
            c.ErrorCode = -1;
            assertNull(c.XCRLRevokedX(crl, unlisted));
            assertEquals(OK, c.ErrorCode);

            assertEquals(generalized(last), c.XCRLGetLastUpdateX(crl, 0));
            assertEquals(generalized(next), c.XCRLGetNextUpdateX(crl, 0));
            assertEquals(c.XCertGetSubjectX(ca, 0), c.XCRLGetIssuerX(crl, 0));

            Path der = builtAndSigned(crl);
            String text = toolCrl(der, revocations("ca.pem"));
            assertTrue(what + "\n" + text, text.contains("verify OK"));
            assertTrue(text, text.contains("Issuer: C = TW, O = Orvane Test, CN = Revoking CA"));
            Map<String, Listed> listed = toolEntries(text);
            assertEquals(List.of(sorted), new ArrayList<>(listed.keySet()));
            assertEquals(KEY_COMPROMISE, listed.get("8F1234").reason);
            assertEquals(SUPERSEDED, listed.get("0ABC").reason);
            assertEquals(REMOVE_FROM_CRL, listed.get("05").reason);
            assertEquals(REVOKED, listed.get("0102").reason);
            assertTrue(text, text.contains("Unspecified"));
            for (Listed l : listed.values()) assertEquals(generalized(revoked), l.date);
            // Only the entry added with reason 0 has no reason extension.
            assertEquals(4, text.split("X509v3 CRL Reason Code").length - 1);
            assertEquals(generalized(last), timeText(toolLine(der, "-lastupdate")));
            assertEquals(generalized(next), timeText(toolLine(der, "-nextupdate")));

            // The tool takes the CRL as its issuer's word: a listed leaf is
            // refused (removeFromCRL is no revocation to it), another accepted.
            assertEquals(what, 0, verified(der, "leaf.99.pem").status);
            assertEquals(what, 0, verified(der, "leaf.05.pem").status);
            assertEquals(what, 2, verified(der, "leaf.ABC.pem").status);
        }
    }

    @Test
    public void wrongHandlesAndRefusedValues() throws Exception {
        long cert = decoded(CERTIFICATE, "ca.der");
        long crl = decoded(CRL, "crl.der");
        c.ErrorCode = -1;
        assertEquals(0, c.XCRLRevokedCountX(cert));
        assertEquals(WRONG_HANDLE, c.ErrorCode);
        c.ErrorCode = -1;
        assertNull(c.XCRLGetRevokedInfoX(cert, 0));
        assertEquals(WRONG_HANDLE, c.ErrorCode);
        c.ErrorCode = -1;
        assertNull(c.XCRLRevokedX(cert, "05"));
        assertEquals(WRONG_HANDLE, c.ErrorCode);
        c.ErrorCode = -1;
        assertNull(c.XCRLRevokedX(cert, cert));
        assertEquals(WRONG_HANDLE, c.ErrorCode);
        c.ErrorCode = -1;
        assertNull(c.XCRLRevokedX(crl, crl));  // a CRL where the certificate is wanted
        assertEquals(WRONG_HANDLE, c.ErrorCode);
        c.ErrorCode = -1;
        assertNull(c.XCRLGetIssuerX(cert, 0));
        assertEquals(WRONG_HANDLE, c.ErrorCode);
        c.ErrorCode = -1;
        assertNull(c.XCRLGetLastUpdateX(cert, 0));
        assertEquals(WRONG_HANDLE, c.ErrorCode);
        assertEquals(WRONG_HANDLE, c.XCRLSetIssuerX(cert, cert));
        assertEquals(WRONG_HANDLE, c.XCRLSetIssuerX(crl, crl));
        assertEquals(WRONG_HANDLE, c.XCRLSortRevoked(cert, 0));
        assertEquals(WRONG_HANDLE, c.XCRLAddRevokedX(cert, "01", "20260101000000+0000", 0));
        assertEquals(WRONG_HANDLE, c.ErrorCode);
        c.ErrorCode = -1;
        assertEquals(0, c.XCRLRevokedCountX(0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);

        long fresh = created();
        assertEquals(0, c.XCRLRevokedCountX(fresh));
        assertEquals(OK, c.ErrorCode);
        assertNull(c.XCRLRevokedX(fresh, "01"));
        assertEquals(OK, c.ErrorCode);
        assertEquals(OK, c.XCRLSortRevoked(fresh, 0));
        c.ErrorCode = -1;
        assertNull(c.XCRLGetNextUpdateX(fresh, 0));
        assertEquals(NOT_PRESENT, c.ErrorCode);
        Object[][] refused = {
            {"2026010100000+0000", 0, BAD_FORMAT},  // 18 characters
            {"20261301000000+0000", 0, BAD_FORMAT},
            {null, 0, BAD_ARGUMENT},
            {"20260101000000+0000", 7, BAD_ARGUMENT},
            {"20260101000000+0000", REMOVE_FROM_CRL, BAD_ARGUMENT},
            {"20260101000000+0000", -1, BAD_ARGUMENT},
        };
        for (Object[] t : refused) {
            String what = t[0] + " " + t[1];
            c.ErrorCode = -1;
            assertEquals(what, t[2], c.XCRLAddRevokedX(fresh, "01", (String) t[0], (int) t[1]));
            assertEquals(what, t[2], c.ErrorCode);
            assertEquals(what, t[2], c.XCRLAddRevokedX(fresh, cert, (String) t[0], (int) t[1]));
        }
        assertEquals(BAD_FORMAT, c.XCRLAddRevokedX(fresh, "0G", "20260101000000+0000", 0));
        assertEquals(BAD_FORMAT, c.XCRLSetLastUpdateX(fresh, "2026"));
        assertEquals(BAD_FORMAT, c.XCRLSetNextUpdateX(fresh, "20260101000000+00000"));
        assertEquals(BAD_FORMAT, c.XCRLSetIssuerX(fresh, "CN"));
        assertEquals(0, c.XCRLRevokedCountX(fresh));
    }

    /**
     * WKP11Crypt in a class loader of its own that has none of the result
     * classes, over a copy of the library (a library serves one loader).
     */
    public static final class WithoutResultClasses {
        public static Object[] run(String library, byte[] crl) {
            System.load(library);
            WKP11Crypt c = new WKP11Crypt();
            long h = c.XDecodeObjectX(3, crl, 0);
            List<Object> out = new ArrayList<>();
            out.add(c.ErrorCode);
            for (int which = 0; which < 2; which++) {
                c.ErrorCode = -1;
                Throwable thrown = null;
                Object entry = null;
                try {
                    entry = which == 0 ? c.XCRLGetRevokedInfoX(h, 0) : c.XCRLRevokedX(h, "8F1234");
                } catch (Throwable t) {
                    thrown = t;
                }
                out.add(thrown);
                out.add(c.ErrorCode);
                out.add(entry);
            }
            c.XFreeHandleX(h);
            return out.toArray();
        }
    }

    @Test
    public void aMissingResultClassReachesTheCaller() throws Exception {
        Path dir = Files.createTempDirectory("tqjni-noresults");
        dir.toFile().deleteOnExit();
        for (Class<?> k : new Class<?>[] {WKP11Crypt.class, WithoutResultClasses.class}) {
            String name = k.getName().replace('.', '/') + ".class";
            Path to = dir.resolve(name);
            Files.createDirectories(to.getParent());
            try (InputStream in = k.getClassLoader().getResourceAsStream(name)) {
                Files.copy(in, to);
            }
        }
        Path library = dir.resolve("library-copy.so");
        Files.copy(Paths.get(System.getProperty("tq.library")), library);
        try (URLClassLoader loader = new URLClassLoader(new URL[] {dir.toUri().toURL()},
                                                        ClassLoader.getPlatformClassLoader())) {
            Class<?> driver = Class.forName(WithoutResultClasses.class.getName(), true, loader);
            Object[] out = (Object[]) driver.getMethod("run", String.class, byte[].class)
                               .invoke(null, library.toString(), Files.readAllBytes(revocations("crl.der")));
            assertEquals(OK, out[0]);
            for (int i = 1; i < out.length; i += 3) {
                assertTrue(String.valueOf(out[i]), out[i] instanceof NoClassDefFoundError);
                assertTrue(String.valueOf(out[i]), ((Throwable) out[i]).getMessage().contains("X509Revoked"));
                assertEquals(OK, out[i + 1]);  // the code of the native's work
                assertNull(out[i + 2]);
            }
        }
    }
}
