package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.HashSet;
import java.util.List;
import java.util.Set;

import org.junit.After;
import org.junit.Before;
import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

public class Pkcs7Test {
    static {
        Peer.load();
    }

    private static final int DETACHED = 0x4000, NOCERTS = 0x100;
    private static final int CERT_REJECTED = 5014;

    private final WKP11Crypt c = new WKP11Crypt();
    private long cert;
    private long key;
    private final byte[] data = "content to sign\r\nwith a binary \0 byte".getBytes(StandardCharsets.ISO_8859_1);

    @Before
    public void handles() throws Exception {
        cert = decode(c, CERTIFICATE, "user.der");
        key = decode(c, PRIVATEKEY, "user.rsa.der");
    }

    @After
    public void release() {
        c.XFreeHandleX(cert);
        c.XFreeHandleX(key);
        c.XFreeHandleX(c.hSignerCert);
        c.XFreeHandleX(c.hSignerInfo);
    }

    private Result cmsVerify(byte[] p7, int options) throws Exception {
        List<String> args = new ArrayList<>(Arrays.asList("cms", "-verify", "-binary", "-inform", "DER", "-CAfile",
                                                          fixture("ca.pem").toString()));
        if ((options & DETACHED) != 0) args.addAll(Arrays.asList("-content", temp(data).toString()));
        if ((options & NOCERTS) != 0) args.addAll(Arrays.asList("-certfile", fixture("user.pem").toString()));
        return run(p7, args.toArray(new String[0]));
    }

    @Test
    public void signedMessagesOpensslAccepts() throws Exception {
        for (int hash = 0; hash <= 6; hash++) {
            for (int options : new int[] {0, DETACHED, NOCERTS, DETACHED | NOCERTS}) {
                String what = "hash " + hash + " options " + options;
                long p7 = c.XPKCS7SignX(cert, key, 12345, data, options, hash);
                assertEquals(what, OK, c.ErrorCode);
                byte[] der = c.XEncodeObjectX(p7, PKCS7, 0);
                c.XFreeHandleX(p7);
                Result r = cmsVerify(der, options);
                assertEquals(what, 0, r.status);
                if ((options & DETACHED) == 0) assertArrayEquals(what, data, r.out);
                // Not the content that was signed.
                if ((options & DETACHED) == 0) {
                    der[der.length - 300] ^= 1;
                    assertNotEquals(what, 0, cmsVerify(der, options).status);
                }
            }
        }
        assertEquals(0, c.XPKCS7SignX(cert, key, 0, data, 0, 7));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        assertEquals(0, c.XPKCS7SignX(cert, 0, 0, data, 0, 4));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
    }

    /** The signer info lands in hSignerCert, the certificate in hSignerInfo. */
    @Test
    public void verifiesOpensslSignaturesWithTheFieldsCrossed() throws Exception {
        long p7 = decode(c, PKCS7, "signed.p7.der");
        byte[] content = read("content.txt");
        assertEquals(OK, c.XPKCS7VerifyX(0, p7, content, null, 0, 0, 0));
        assertEquals(OK, c.ErrorCode);
        byte[] info = c.XEncodeObjectX(c.hSignerCert, SIGNERINFO, 0);
        assertEquals(OK, c.ErrorCode);
        assertTrue(info.length > 100);
        assertArrayEquals(read("user.der"), c.XEncodeObjectX(c.hSignerInfo, CERTIFICATE, 0));

        // The next check releases the handles of this one, and a subject
        // rule that does not hold leaves both fields 0.
        assertEquals(OK, c.XPKCS7VerifyX(0, p7, null, "CN=User One", 0, 0, 0));
        assertNotEquals(0, c.hSignerCert);
        assertEquals(CERT_REJECTED, c.XPKCS7VerifyX(0, p7, null, "CN=Somebody Else", 0, 0, 0));
        assertEquals(CERT_REJECTED, c.ErrorCode);
        assertEquals(0, c.hSignerCert);
        assertEquals(0, c.hSignerInfo);
        assertNotEquals(OK, c.XPKCS7VerifyX(0, p7, "other content".getBytes(StandardCharsets.US_ASCII), null, 0, 0,
                                            0));
        assertEquals(0, c.hSignerCert);
        c.XFreeHandleX(p7);
    }

    private static Path chains(String name) {
        return fixture("../chains/" + name);
    }

    private static String pems(String... names) throws Exception {
        StringBuilder s = new StringBuilder();
        for (String n : names) s.append(new String(Files.readAllBytes(chains(n)), StandardCharsets.US_ASCII));
        return s.toString();
    }

    /** The chain of an smime-signed message against stores made from PEM lists. */
    @Test
    public void verifiesTheSignersChainAgainstAStore() throws Exception {
        final int chain = 0x1, crlCheck = 0x2, revokedKeyCompromise = 5021;
        final String leaf = "rev-keyCompromise.leaf";
        Path in = temp(data);
        byte[] signed = openssl(null, "smime", "-sign", "-binary", "-nodetach", "-in", in.toString(), "-signer",
                                chains(leaf + ".pem").toString(), "-inkey", chains(leaf + ".key.pem").toString(),
                                "-outform", "DER");
        long p7 = c.XDecodeObjectX(PKCS7, signed, 0);
        assertEquals(OK, c.ErrorCode);

        long trusted = c.XLoadStoreX(pems("root.pem", "inter.pem"), null);
        assertEquals(OK, c.ErrorCode);
        assertEquals(OK, c.XPKCS7VerifyX(trusted, p7, null, "CN=Revoked keyCompromise", 0, chain, 0));
        assertArrayEquals(Files.readAllBytes(chains(leaf + ".der")), c.XEncodeObjectX(c.hSignerInfo, CERTIFICATE, 0));

        // A store without the intermediate does not vouch for the signer.
        long partial = c.XLoadStoreX(pems("root.pem"), null);
        assertEquals(OK, c.ErrorCode);
        assertNotEquals(OK, c.XPKCS7VerifyX(partial, p7, null, null, 0, chain, 0));
        assertEquals(0, c.hSignerCert);
        assertEquals(0, c.hSignerInfo);
        // Without the chain flag the store is not consulted.
        assertEquals(OK, c.XPKCS7VerifyX(partial, p7, null, null, 0, 0, 0));

        // The intermediate's CRL lists the signer as key-compromised; the tool agrees.
        long revoking = c.XLoadStoreX(pems("root.pem", "inter.pem"), pems("crl.inter.pem"));
        assertEquals(OK, c.ErrorCode);
        assertEquals(revokedKeyCompromise, c.XPKCS7VerifyX(revoking, p7, null, null, 0, chain | crlCheck, 0));
        assertEquals(OK, c.XPKCS7VerifyX(revoking, p7, null, null, 0, chain, 0));
        Path bundle = temp(pems("root.pem", "inter.pem").getBytes(StandardCharsets.US_ASCII));
        Path withCrl = temp(pems("root.pem", "inter.pem", "crl.inter.pem").getBytes(StandardCharsets.US_ASCII));
        Result revoked = run(signed, "cms", "-verify", "-inform", "DER", "-CAfile", withCrl.toString(), "-crl_check");
        assertNotEquals(0, revoked.status);
        assertEquals(0, run(signed, "cms", "-verify", "-inform", "DER", "-CAfile", withCrl.toString()).status);
        assertEquals(0, run(signed, "smime", "-verify", "-inform", "DER", "-CAfile", bundle.toString()).status);
        assertNotEquals(0, run(signed, "smime", "-verify", "-inform", "DER", "-CAfile",
                               chains("root.pem").toString()).status);
        c.XFreeHandleX(trusted);
        c.XFreeHandleX(partial);
        c.XFreeHandleX(revoking);
        c.XFreeHandleX(p7);
    }

    /** Handles released by Java are not released again by the next check. */
    @Test
    public void releasedSignerHandlesAreForgotten() throws Exception {
        long p7 = decode(c, PKCS7, "signed.p7.der");
        for (int round = 0; round < 3; round++) {
            assertEquals(OK, c.XPKCS7VerifyX(0, p7, null, null, 0, 0, 0));
            long info = c.hSignerCert;
            long signer = c.hSignerInfo;
            c.XFreeHandleX(round == 1 ? signer : info);
            assertEquals(round == 1 ? info : 0, c.hSignerCert);
            assertEquals(round == 1 ? 0 : signer, c.hSignerInfo);
        }
        assertEquals(OK, c.XPKCS7VerifyX(0, p7, null, null, 0, 0, 0));
        c.XFreeHandleX(p7);
    }

    private static Set<String> subjects(String printed) {
        Set<String> out = new HashSet<>();
        for (String line : printed.split("\n")) {
            if (line.startsWith("subject=")) out.add(line.trim());
        }
        return out;
    }

    @Test
    public void accessorsAgainstPrintCerts() throws Exception {
        long p7 = decode(c, PKCS7, "signed.p7.der");
        Set<String> expected = subjects(new String(openssl(null, "pkcs7", "-inform", "DER", "-in",
                                                           fixture("signed.p7.der").toString(), "-print_certs",
                                                           "-noout"), StandardCharsets.UTF_8));
        int count = c.XPKCS7GetCertCountX(p7);
        assertEquals(OK, c.ErrorCode);
        assertEquals(expected.size(), count);
        Set<String> ours = new HashSet<>();
        for (int i = 0; i < count; i++) {
            long h = c.XPKCS7GetCertX(p7, i);
            assertEquals(OK, c.ErrorCode);
            byte[] der = c.XEncodeObjectX(h, CERTIFICATE, 0);
            ours.add(new String(openssl(der, "x509", "-inform", "DER", "-noout", "-subject"), StandardCharsets.UTF_8)
                         .trim());
            c.XFreeHandleX(h);
        }
        assertEquals(expected, ours);
        assertEquals(0, c.XPKCS7GetCertX(p7, count));
        assertNotEquals(OK, c.ErrorCode);

        assertEquals(1, c.XPKCS7GetSignerInfoCountX(p7));
        long info = c.XPKCS7GetSignerInfoX(p7, 0);
        assertEquals(OK, c.ErrorCode);
        c.XFreeHandleX(info);
        long signer = c.XPKCS7GetSignerCertificateX(p7, 0);
        assertArrayEquals(read("user.der"), c.XEncodeObjectX(signer, CERTIFICATE, 0));
        c.XFreeHandleX(signer);
        long user = c.XPKCS7GetUserCertificateX(p7);
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(read("user.der"), c.XEncodeObjectX(user, CERTIFICATE, 0));
        c.XFreeHandleX(user);
        long chain = c.XPKCS7GetCertChainX(p7);
        assertEquals(OK, c.ErrorCode);
        assertNotEquals(0, chain);
        c.XFreeHandleX(chain);
        assertArrayEquals(read("content.txt"), c.XPKCS7GetContentX(p7));
        c.XFreeHandleX(p7);

        c.ErrorCode = -1;
        assertEquals(0, c.XPKCS7GetSignerInfoCountX(0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
    }

    @Test
    public void certificateOnlyMessages() throws Exception {
        long p7 = c.XPKCS7CreateX();
        assertEquals(OK, c.ErrorCode);
        long ca = decode(c, CERTIFICATE, "ca.der");
        assertEquals(OK, c.XPKCS7AddCertificateX(p7, cert));
        assertEquals(OK, c.XPKCS7AddCertificateX(p7, ca));
        assertEquals(2, c.XPKCS7GetCertCountX(p7));
        byte[] der = c.XEncodeObjectX(p7, PKCS7, 0);
        Set<String> printed = subjects(new String(openssl(der, "pkcs7", "-inform", "DER", "-print_certs", "-noout"),
                                                  StandardCharsets.UTF_8));
        assertEquals(2, printed.size());
        assertTrue(printed.toString(), printed.contains("subject=C = TW, O = Orvane Test, CN = Test Root"));
        c.XFreeHandleX(ca);
        c.XFreeHandleX(p7);
    }

    /** Envelope cipher selectors and openssl's names for them. */
    private static final Object[][] ENVELOPES = {{1, "-des"}, {2, "-des3"}, {4, "-rc4"}};

    @Test
    public void envelopesBothWaysWithSmime() throws Exception {
        for (Object[] e : ENVELOPES) {
            String what = (String) e[1];
            byte[] env = c.XPKCS7EncryptX(cert, data, (Integer) e[0]);
            assertEquals(what, OK, c.ErrorCode);
            assertArrayEquals(what, data, openssl(env, "smime", "-decrypt", "-binary", "-inform", "DER", "-recip",
                                                  fixture("user.pem").toString(), "-inkey",
                                                  fixture("user.key.pem").toString(), "-provider", "legacy",
                                                  "-provider", "default"));
            Path in = temp(data);
            byte[] theirs = openssl(null, "smime", "-encrypt", "-binary", what, "-in", in.toString(), "-outform",
                                    "DER", "-provider", "legacy", "-provider", "default",
                                    fixture("user.pem").toString());
            assertArrayEquals(what, data, c.XPKCS7DecryptX(cert, key, theirs, 0));
            assertEquals(what, OK, c.ErrorCode);
        }
        long other = decode(c, PRIVATEKEY, "user.rsa.der");
        byte[] env = Files.readAllBytes(fixture("signed.p7.der"));
        c.ErrorCode = -1;
        assertEquals(null, c.XPKCS7DecryptX(cert, other, env, 0));
        assertNotEquals(OK, c.ErrorCode);
        c.XFreeHandleX(other);
    }
}
