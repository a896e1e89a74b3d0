package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.List;
import java.util.function.LongFunction;

import org.junit.After;
import org.junit.Test;

import com.tq.pki.X509Attribute;
import com.tq.pki.X509AuthorityKeyIdentifier;
import com.tq.pki.X509BasicConstraints;
import com.tq.pki.X509CRLDistributionPoints;
import com.tq.pki.X509CRLNumber;
import com.tq.pki.X509ExtendedKeyUsage;
import com.tq.pki.X509GeneralName;
import com.tq.pki.X509KeyUsage;
import com.tq.pki.X509Name;
import com.tq.pki.X509SubjectKeyIdentifier;
import com.vandrelot.crypto.WKP11Crypt;

/**
 * The extension natives against certificates and CRLs of openssl and python3 cryptography, and what
 * the setters write as openssl reads it back.
 */
public class ExtensionTest {
    static {
        Peer.load();
    }

    static final int NOT_PRESENT = 5050;
    static final int SHA256 = 4;

    private final WKP11Crypt c = new WKP11Crypt();
    private final java.util.ArrayList<Long> handles = new java.util.ArrayList<>();

    @After
    public void release() {
        for (long h : handles) c.XFreeHandleX(h);
    }

    static Path file(String name) {
        return Paths.get(System.getenv("TQ_FIXTURES"), "extensions", name);
    }

    private long decodeFile(int kind, String name) throws Exception {
        long h = c.XDecodeObjectX(kind, Files.readAllBytes(file(name)), 0);
        assertEquals(name, OK, c.ErrorCode);
        handles.add(h);
        return h;
    }

    private long cert(String name) throws Exception {
        return decodeFile(CERTIFICATE, name);
    }

    private long crl(String name) throws Exception {
        return decodeFile(CRL, name);
    }

    /** The colon-separated hex on the line after the tool's heading of that extension. */
    private static byte[] toolHex(String name, String extension) throws Exception {
        String out = new String(openssl(null, "x509", "-noout", "-in", file(name).toString(), "-ext", extension),
                                StandardCharsets.US_ASCII);
        return unhex(out.split("\n")[1]);
    }

    private static String caSerial() throws Exception {
        String out = new String(openssl(null, "x509", "-noout", "-serial", "-in", file("ca.pem").toString()),
                                StandardCharsets.US_ASCII);
        return out.trim().substring("serial=".length());
    }

    private static String attr(X509Attribute a) {
        return a.name + "=" + a.value;
    }

    /** "DirName=C=TW,CN" compares a directory name's entries; a bare label checks only that entry's type. */
    private static void assertNames(String what, X509GeneralName names, String... expected) {
        assertNotNull(what, names);
        assertEquals(what, expected.length, names.attributes.length);
        for (int i = 0; i < expected.length; i++) {
            X509Attribute a = names.attributes[i];
            if (expected[i].startsWith("DirName=")) {
                assertEquals(what, "DirName", a.name);
                assertTrue(what, a.value instanceof X509Name);
                String[] entries = expected[i].substring(8).split(",");
                X509Attribute[] dn = ((X509Name) a.value).attributes;
                assertEquals(what, entries.length, dn.length);
                for (int j = 0; j < dn.length; j++)
                    assertEquals(what, entries[j], entries[j].contains("=") ? attr(dn[j]) : dn[j].name);
            } else {
                assertEquals(what, expected[i], attr(a));
            }
        }
    }

    @Test
    public void basicConstraintsWithAndWithoutPathLength() throws Exception {
        Object[][] cases = {
            // file, ca, path length (-1: the two-argument constructor), critical
            {"leaf.der", false, -1, false},
            {"py.leaf.der", true, -1, true},
            {"py.pathlen0.der", true, 0, false},
        };
        for (Object[] k : cases) {
            long h = cert((String) k[0]);
            c.ErrorCode = -1;
            X509BasicConstraints bc = c.XCertGetBasicConstraintsX(h);
            assertEquals(OK, c.ErrorCode);
            assertEquals(k[0].toString(), k[1], bc.ca);
            assertEquals(k[0].toString(), k[2], bc.pathLength);
            assertEquals(k[0].toString(), k[3], bc.critical);
        }
    }

    @Test
    public void valueBytesAgainstTheTool() throws Exception {
        long leaf = cert("leaf.der");
        X509KeyUsage ku = c.XCertGetKeyUsageX(leaf);
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(new byte[] {(byte) 0xA0}, ku.value);  // digitalSignature, keyEncipherment
        assertTrue(ku.critical);
        // serverAuth, clientAuth and timeStamping: only the first two have bits, most significant byte first.
        X509ExtendedKeyUsage eku = c.XCertGetExtendedKeyUsageX(leaf);
        assertArrayEquals(new byte[] {0, 0, 0, 3}, eku.value);
        assertFalse(eku.critical);
        X509SubjectKeyIdentifier skid = c.XCertGetSubjectKeyIdentifierX(leaf);
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(toolHex("leaf.der", "subjectKeyIdentifier"), skid.value);

        X509CRLNumber number = c.XCRLGetCRLNumberX(crl("crl.der"));
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(new byte[] {0x12, 0x34}, number.value);
        number = c.XCRLGetCRLNumberX(crl("py.crl.der"));
        assertArrayEquals(unhex("8000000000000000AB"), number.value);
        assertFalse(number.critical);
    }

    @Test
    public void authorityKeyIdentifiers() throws Exception {
        byte[] caKeyId = toolHex("ca.pem", "subjectKeyIdentifier");
        // openssl's keyid and issuer: the root's name as a directory name, its serial as hex text.
        X509AuthorityKeyIdentifier akid = c.XCertGetAuthorityKeyIdentifierX(cert("leaf.der"));
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(caKeyId, akid.keyIdentifier);
        assertNames("leaf", akid.issuer, "DirName=C=TW,O=Orvane Test,CN");
        X509Name root = (X509Name) akid.issuer.attributes[0].value;
        assertEquals("Extension Root", root.attributes[2].value);
        assertEquals(caSerial(), akid.serialNumber);
        assertFalse(akid.critical);

        // Two issuer names, a directory name holding a BMPString, and a serial with a high first byte.
        akid = c.XCertGetAuthorityKeyIdentifierX(cert("py.leaf.der"));
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(unhex("0102030405060708090A0B0C0D0E0F1011121314"), akid.keyIdentifier);
        assertNames("py.leaf", akid.issuer, "DirName=C=TW,CN,O=Orvane Dir", "URI=http://issuer.example.org/");
        assertEquals("80F1020304050607", akid.serialNumber);

        // Serials at either side of the stack buffer.
        for (int n : new int[] {512, 513}) {
            StringBuilder hex = new StringBuilder(String.format("%02X", 0xC0 | (n & 0x0F)));
            for (int i = 1; i < n; i++) hex.append(String.format("%02X", (i * 7) & 0xFF));
            akid = c.XCertGetAuthorityKeyIdentifierX(cert("py.serial" + n + ".der"));
            assertEquals(OK, c.ErrorCode);
            assertEquals(hex.toString(), akid.serialNumber);
            assertNull(akid.keyIdentifier);
        }

        // CRLs: openssl's key identifier alone; python's with issuer and a serial with a leading zero digit.
        akid = c.XCRLGetAuthorityKeyIdentifierX(crl("crl.der"));
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(caKeyId, akid.keyIdentifier);
        assertNull(akid.issuer);
        assertNull(akid.serialNumber);
        akid = c.XCRLGetAuthorityKeyIdentifierX(crl("py.crl.der"));
        assertArrayEquals(unhex("28292A2B2C2D2E2F303132333435363738393A3B"), akid.keyIdentifier);
        assertNames("py.crl", akid.issuer, "DirName=C=TW,CN,O=Orvane Dir");
        assertEquals("0102", akid.serialNumber);
    }

    @Test
    public void onlyTheFirstDistributionPointsFullName() throws Exception {
        X509CRLDistributionPoints dp = c.XCertGetCRLDistributionPointsX(cert("leaf.der"));
        assertEquals(OK, c.ErrorCode);
        // openssl makes a point of each URI: the second is not read.
        assertNames("leaf", dp.fullName, "URI=http://crl.example.org/a.crl");
        assertFalse(dp.critical);
        // Reasons, the CRL issuer and the second point do not reach Java.
        dp = c.XCertGetCRLDistributionPointsX(cert("py.leaf.der"));
        assertEquals(OK, c.ErrorCode);
        assertNames("py.leaf", dp.fullName, "URI=http://crl.example.org/one.crl", "DNS=crl.example.org",
                    "DirName=C=TW,CN,O=Orvane Dir");
        assertTrue(dp.critical);
    }

    /** 600 names and two 600-entry directory names: far past the JVM's local references of one native. */
    @Test
    public void longListsStayWithinLocalReferences() throws Exception {
        long h = cert("py.long.der");
        X509AuthorityKeyIdentifier akid = c.XCertGetAuthorityKeyIdentifierX(h);
        assertEquals(OK, c.ErrorCode);
        assertEquals(602, akid.issuer.attributes.length);
        for (int d = 0; d < 2; d++) {
            X509Name dir = (X509Name) akid.issuer.attributes[d].value;
            assertEquals(600, dir.attributes.length);
            assertEquals("OU=unit 599", attr(dir.attributes[599]));
        }
        assertEquals("DNS=n599.example.org", attr(akid.issuer.attributes[601]));
        assertEquals("01", akid.serialNumber);
        X509CRLDistributionPoints dp = c.XCertGetCRLDistributionPointsX(h);
        assertEquals(OK, c.ErrorCode);
        assertEquals(600, dp.fullName.attributes.length);
        assertEquals("URI=http://crl.example.org/599.crl", attr(dp.fullName.attributes[599]));
    }

    @Test
    public void absentExtensionsAndBadHandles() throws Exception {
        long bare = cert("bare.der");
        long v1 = crl("crl.v1.der");
        List<LongFunction<Object>> certGetters = List.of(
            c::XCertGetBasicConstraintsX, c::XCertGetKeyUsageX, c::XCertGetExtendedKeyUsageX,
            c::XCertGetSubjectKeyIdentifierX, c::XCertGetAuthorityKeyIdentifierX, c::XCertGetCRLDistributionPointsX);
        List<LongFunction<Object>> crlGetters = List.of(c::XCRLGetCRLNumberX, c::XCRLGetAuthorityKeyIdentifierX);
        for (LongFunction<Object> g : certGetters) {
            c.ErrorCode = -1;
            assertNull(g.apply(bare));
            assertEquals(NOT_PRESENT, c.ErrorCode);
            assertNull(g.apply(0));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
            assertNull(g.apply(v1));
            assertEquals(WRONG_HANDLE, c.ErrorCode);
        }
        for (LongFunction<Object> g : crlGetters) {
            c.ErrorCode = -1;
            assertNull(g.apply(v1));
            assertEquals(NOT_PRESENT, c.ErrorCode);
            assertNull(g.apply(bare));
            assertEquals(WRONG_HANDLE, c.ErrorCode);
        }
    }

    // ---- Setters

    private String signedText(long h, String kind) throws Exception {
        assertEquals(OK, c.XSignObjectX(h, decodeFile(PRIVATEKEY, "ca.rsa.der"), SHA256));
        byte[] der = c.XEncodeObjectX(h, kind.equals("x509") ? CERTIFICATE : CRL, 0);
        assertEquals(OK, c.ErrorCode);
        return new String(openssl(der, kind, "-inform", "DER", "-noout", "-text"), StandardCharsets.UTF_8);
    }

    private static void assertShows(String text, String... lines) {
        for (String line : lines) assertTrue(line + " in\n" + text, text.contains(line));
    }

    @Test
    public void basicConstraintsTexts() throws Exception {
        Object[][] cases = {{false, 5, "CA:FALSE\n"}, {true, -1, "CA:TRUE\n"}, {true, 0, "CA:TRUE, pathlen:0\n"}};
        for (Object[] k : cases) {
            long h = cert("bare.der");
            assertEquals(OK, c.XCertSetBasicConstraintsX(h, (Boolean) k[0], (Integer) k[1], true));
            assertEquals(OK, c.ErrorCode);
            assertShows(signedText(h, "x509"), "X509v3 Basic Constraints: critical\n                " + k[2]);
        }
    }

    @Test
    public void settersAsTheToolReadsThem() throws Exception {
        long h = cert("bare.der");
        byte[] keyId = toolHex("ca.pem", "subjectKeyIdentifier");
        String serial = caSerial();  // openssl verify matches the issuer's key identifier and serial
        String keyIdText = hex(keyId).toUpperCase().replaceAll("(..)(?!$)", "$1:");
        assertEquals(OK, c.XCertSetKeyUsageX(h, new byte[] {(byte) 0xA0, 0}, true));
        // The mask is written least significant byte first: 0x0109 is serverAuth, codeSigning and msCodeInd.
        assertEquals(OK, c.XCertSetExtendedKeyUsageX(h, new byte[] {0x09, 0x01}, false));
        assertEquals(OK, c.XCertSetSubjectKeyIdentifierX(h, new byte[] {(byte) 0xA1, (byte) 0xA2, 3}, false));
        assertEquals(OK, c.XCertSetNetscapeCertTypeX(h, new byte[] {(byte) 0xA0}, false));
        assertEquals(OK, c.XCertSetAuthorityKeyIdentifierX(h, new Object[] {keyId, "DNS=ca.example.org", serial},
                                                           false));
        assertEquals(OK, c.XCertSetCRLDistributionPointsX(
                             h, "URI=http://crl.example.org/set.crl\tURI=ldap://crl.example.org/set", false));
        assertEquals(OK, c.XCertSetExtensionX(h, "subjectAltName",
                                              "DNS=www.example.org\tEmail=a@example.org\tIP Address=10.0.0.1", false));
        assertEquals(OK, c.XCertSetExtensionByOIDX(h, "1.3.6.1.4.1.55555.7", "0C:03:61:62:63", false));
        assertEquals(OK, c.ErrorCode);

        // What the getters read back before signing.
        assertArrayEquals(new byte[] {0, 0, 0, 9}, c.XCertGetExtendedKeyUsageX(h).value);
        assertArrayEquals(new byte[] {(byte) 0xA0}, c.XCertGetKeyUsageX(h).value);
        X509AuthorityKeyIdentifier akid = c.XCertGetAuthorityKeyIdentifierX(h);
        assertArrayEquals(keyId, akid.keyIdentifier);
        assertNames("set", akid.issuer, "DNS=ca.example.org");
        assertEquals(serial, akid.serialNumber);

        String text = signedText(h, "x509");
        assertShows(text, "Version: 3",
                    "X509v3 Key Usage: critical\n                Digital Signature, Key Encipherment\n",
                    "X509v3 Extended Key Usage: \n                TLS Web Server Authentication, Code Signing, "
                        + "Microsoft Individual Code Signing\n",
                    "X509v3 Subject Key Identifier: \n                A1:A2:03\n",
                    "Netscape Cert Type: \n                SSL Client, S/MIME\n",
                    "keyid:" + keyIdText + "\n                DNS:ca.example.org\n                serial:"
                        + serial.replaceAll("(..)(?!$)", "$1:") + "\n",
                    "Full Name:\n                  URI:http://crl.example.org/set.crl\n"
                        + "                  URI:ldap://crl.example.org/set\n",
                    "DNS:www.example.org, email:a@example.org, IP Address:10.0.0.1\n",
                    "1.3.6.1.4.1.55555.7: \n                ..abc\n");

        // The re-signed certificate chains to the root.
        byte[] pem = openssl(c.XEncodeObjectX(h, CERTIFICATE, 0), "x509", "-inform", "DER");
        Path out = temp(pem);
        String verified = new String(openssl(null, "verify", "-CAfile", file("ca.pem").toString(), out.toString()),
                                     StandardCharsets.US_ASCII);
        assertEquals(out + ": OK\n", verified);
    }

    @Test
    public void authorityKeyIdentifierFromOneTwoAndThreeElements() throws Exception {
        byte[] keyId = {1, 2, 3};
        Object[][] cases = {
            {new Object[] {keyId}, "X509v3 Authority Key Identifier: \n                01:02:03\n", "DNS:", "serial:"},
            {new Object[] {null, "URI=http://ca.example.org/\tDirName=CN=Set Issuer\nO=Set Org"},
             "URI:http://ca.example.org/\n                DirName:/CN=Set Issuer/O=Set Org\n", "keyid:", "serial:"},
            {new Object[] {null, null, "0102"}, "serial:01:02\n", "keyid:", "DNS:"},
            {new Object[] {keyId, null, "ABC"}, "keyid:01:02:03\n                serial:0A:BC\n", "URI:", "DNS:"},
            // Elements past the third are not read.
            {new Object[] {null, "DNS=x.example.org", null, Integer.valueOf(7)}, "DNS:x.example.org\n", "keyid:",
             "serial:"},
        };
        for (Object[] k : cases) {
            long h = cert("bare.der");
            assertEquals(OK, c.XCertSetAuthorityKeyIdentifierX(h, (Object[]) k[0], false));
            String text = signedText(h, "x509");
            String part = text.substring(text.indexOf("X509v3 Authority Key Identifier"));
            part = part.substring(0, part.indexOf("Signature Algorithm"));
            assertShows(part, (String) k[1]);
            assertFalse(part, part.contains((String) k[2]));
            assertFalse(part, part.contains((String) k[3]));
        }
    }

    @Test
    public void crlNumberAndKeyIdentifierOnAnOpensslCrl() throws Exception {
        long h = crl("crl.der");
        byte[] keyId = unhex("B1B2B3B4");
        assertEquals(OK, c.XCRLSetCRLNumberX(h, new byte[] {0x01, 0x00}, false));
        assertEquals(OK, c.XCRLSetAuthorityKeyIdentifierX(h, new Object[] {keyId, "DirName=CN=Set Issuer", "0A0B"},
                                                          true));
        assertArrayEquals(new byte[] {0x01, 0x00}, c.XCRLGetCRLNumberX(h).value);
        X509AuthorityKeyIdentifier akid = c.XCRLGetAuthorityKeyIdentifierX(h);
        assertArrayEquals(keyId, akid.keyIdentifier);
        assertTrue(akid.critical);
        assertEquals("0A0B", akid.serialNumber);

        String text = signedText(h, "crl");
        assertShows(text, "X509v3 CRL Number: \n                256\n",
                    "X509v3 Authority Key Identifier: critical\n                keyid:B1:B2:B3:B4\n"
                        + "                DirName:/CN=Set Issuer\n                serial:0A:0B\n");
        // One of each: the setters replaced openssl's extensions.
        assertEquals(text, text.indexOf("CRL Number"), text.lastIndexOf("CRL Number"));
        byte[] der = c.XEncodeObjectX(h, CRL, 0);
        Result r = run(der, "crl", "-inform", "DER", "-CAfile", file("ca.pem").toString(), "-noout");
        assertEquals(0, r.status);
    }

    /** Names whose builder value is a record or a blob: text for them is refused before the builder runs. */
    @Test
    public void extensionByNameRefusesTypesThatTakeNoText() throws Exception {
        byte[] original = Files.readAllBytes(file("leaf.der"));
        String[] refused = {"keyUsage", "X509v3 Key Usage", "2.5.29.15", "nsCertType", "Netscape Cert Type",
                            "2.16.840.1.113730.1.1", "subjectKeyIdentifier", "X509v3 Subject Key Identifier",
                            "crlNumber", "2.5.29.20", "extendedKeyUsage", "X509v3 Extended Key Usage",
                            "authorityKeyIdentifier", "2.5.29.35"};
        long h = cert("leaf.der");
        for (String name : refused) {
            c.ErrorCode = -1;
            assertEquals(name, BAD_ARGUMENT, c.XCertSetExtensionX(h, name, "digitalSignature", false));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
        }
        // Nothing was removed or rebuilt.
        assertArrayEquals(original, c.XEncodeObjectX(h, CERTIFICATE, 0));
        assertArrayEquals(new byte[] {(byte) 0xA0}, c.XCertGetKeyUsageX(h).value);

        // Text-valued types by any of their names, and the builder's own refusal.
        assertEquals(OK, c.XCertSetExtensionX(h, "2.5.29.17", "DNS=dotted.example.org", false));
        assertEquals(OK, c.XCertSetExtensionX(h, "X509v3 Basic Constraints", "CA:TRUE,pathlen:3", true));
        assertEquals(OK, c.XCertSetExtensionX(h, "issuerAltName", "Email=ca@example.org", false));
        assertEquals(NOT_SUPPORTED, c.XCertSetExtensionX(h, "certificatePolicies", "1.2.3.4", false));
        assertEquals(NOT_SUPPORTED, c.ErrorCode);
        String text = signedText(h, "x509");
        assertShows(text, "DNS:dotted.example.org\n", "email:ca@example.org\n",
                    "X509v3 Basic Constraints: critical\n                CA:TRUE, pathlen:3\n",
                    "Digital Signature, Key Encipherment\n");
    }

    /** Array elements of another class than byte[] and String are refused, and nothing is built. */
    @Test
    public void authorityKeyIdentifierElementsOfTheWrongClass() throws Exception {
        Object[][] wrong = {
            {"not bytes"},
            {new byte[] {1}, new byte[] {2}},
            {null, "DNS=x.example.org", Integer.valueOf(1)},
            {new int[] {1, 2}, null, "01"},
            {new byte[] {1}, new StringBuilder("DNS=x.example.org")},
        };
        long cert = cert("leaf.der");
        long list = crl("crl.der");
        byte[] certBefore = c.XEncodeObjectX(cert, CERTIFICATE, 0);
        byte[] crlBefore = c.XEncodeObjectX(list, CRL, 0);
        for (Object[] value : wrong) {
            c.ErrorCode = -1;
            assertEquals(BAD_ARGUMENT, c.XCertSetAuthorityKeyIdentifierX(cert, value, false));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
            assertEquals(BAD_ARGUMENT, c.XCRLSetAuthorityKeyIdentifierX(list, value, false));
        }
        assertArrayEquals(certBefore, c.XEncodeObjectX(cert, CERTIFICATE, 0));
        assertArrayEquals(crlBefore, c.XEncodeObjectX(list, CRL, 0));
    }

    /** A getter in a JVM whose class path lacks its result class. */
    public static final class WithoutResultClass {
        public static void main(String[] args) throws Exception {
            System.load(System.getProperty("tq.library"));
            WKP11Crypt c = new WKP11Crypt();
            long h = c.XDecodeObjectX(CERTIFICATE, Files.readAllBytes(Paths.get(args[0])), 0);
            c.ErrorCode = -1;
            String thrown = "nothing";
            try {
                c.XCertGetKeyUsageX(h);
            } catch (NoClassDefFoundError e) {
                thrown = e.getClass().getSimpleName();
            }
            boolean others = c.XCertGetBasicConstraintsX(h) != null;
            c.XFreeHandleX(h);
            System.out.println(c.ErrorCode + " " + thrown + " " + others);
        }
    }

    @Test
    public void missingResultClassReachesTheCaller() throws Exception {
        Path classes = Paths.get(System.getProperty("java.class.path").split(java.io.File.pathSeparator)[0]);
        Path copy = Files.createTempDirectory("tqjni");
        try (java.util.stream.Stream<Path> all = Files.walk(classes)) {
            for (Path p : (Iterable<Path>) all::iterator) {
                Path to = copy.resolve(classes.relativize(p).toString());
                if (Files.isDirectory(p)) Files.createDirectories(to);
                else if (!p.getFileName().toString().equals("X509KeyUsage.class")) Files.copy(p, to);
            }
        }
        Process p = new ProcessBuilder(Paths.get(System.getProperty("java.home"), "bin", "java").toString(),
                                       "-Xcheck:jni", "-Dtq.library=" + System.getProperty("tq.library"), "-cp",
                                       copy.toString(), WithoutResultClass.class.getName(), file("leaf.der").toString())
                        .redirectErrorStream(true)
                        .start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(out, 0, p.waitFor());
        try (java.util.stream.Stream<Path> all = Files.walk(copy)) {
            all.sorted(java.util.Comparator.reverseOrder()).forEach(f -> f.toFile().delete());
        }
        // The code of the lookup, null, and the JVM's error for the caller; no JNI warning.
        assertEquals("0 NoClassDefFoundError true\n", out);
    }
}
