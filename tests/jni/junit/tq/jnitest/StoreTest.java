package tq.jnitest;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static tq.jnitest.Peer.*;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

public class StoreTest {
    static {
        Peer.load();
    }

    static final int CHAIN = 0x1, CRL_CHECK = 0x2;
    static final int CERT_EXPIRED = 5011, CERT_NOT_YET_VALID = 5012, CERT_REJECTED = 5014, NO_ISSUER = 5015,
                     REVOKED_KEY_COMPROMISE = 5021;
    // Inside the expired leaf's window (2020-01-01 to 2021-01-01).
    static final int IN_2020 = 1590000000;

    private final WKP11Crypt c = new WKP11Crypt();

    static Path chains(String name) {
        return Paths.get(System.getenv("TQ_FIXTURES"), "chains", name);
    }

    static String pems(String... names) throws Exception {
        StringBuilder s = new StringBuilder();
        for (String n : names) s.append(new String(Files.readAllBytes(chains(n)), StandardCharsets.US_ASCII));
        return s.toString();
    }

    /** A certificate of the chain set, made DER by the tool. */
    static long chainCert(WKP11Crypt c, String name) throws Exception {
        byte[] der = openssl(null, "x509", "-in", chains(name).toString(), "-outform", "DER");
        long h = c.XDecodeObjectX(CERTIFICATE, der, 0);
        assertEquals(name, OK, c.ErrorCode);
        return h;
    }

    static long chainCrl(WKP11Crypt c, String name) throws Exception {
        long h = c.XDecodeObjectX(CRL, Files.readAllBytes(chains(name.replace(".pem", ".der"))), 0);
        assertEquals(name, OK, c.ErrorCode);
        return h;
    }

    /** Whether openssl verify accepts the leaf against the same lists. */
    static boolean opensslAccepts(String leaf, String[] certs, String[] crls, int flags, int time) throws Exception {
        List<String> args = new ArrayList<>(Arrays.asList("verify", "-CAfile", temp(pems(certs).getBytes(
                                                              StandardCharsets.US_ASCII)).toString()));
        if ((flags & CRL_CHECK) != 0) {
            args.add("-crl_check");
            args.addAll(Arrays.asList("-CRLfile", temp(pems(crls).getBytes(StandardCharsets.US_ASCII)).toString()));
        }
        if (time != 0) args.addAll(Arrays.asList("-attime", Integer.toString(time)));
        args.add(chains(leaf).toString());
        return run(null, args.toArray(new String[0])).status == 0;
    }

    static final String[] STORE = {"root.pem", "inter.pem"};
    static final String[] CRLS = {"crl.inter.pem", "crl.root.pem"};
    static final String[] NONE = {};

    private static final Object[][] CHAINS = {
        // leaf, certificates, CRLs, flags, time, expected
        {"good.leaf.pem", STORE, null, 0, 0, OK},
        {"good.leaf.pem", STORE, CRLS, CRL_CHECK, 0, OK},
        {"rev-keyCompromise.leaf.pem", STORE, CRLS, CRL_CHECK, 0, REVOKED_KEY_COMPROMISE},
        {"rev-keyCompromise.leaf.pem", STORE, CRLS, 0, 0, OK},
        {"expired.leaf.pem", STORE, null, 0, 0, CERT_EXPIRED},
        {"expired.leaf.pem", STORE, null, 0, IN_2020, OK},
        {"future.leaf.pem", STORE, null, 0, 0, CERT_NOT_YET_VALID},
        {"orphan.leaf.pem", STORE, CRLS, 0, 0, NO_ISSUER},
        {"good.leaf.pem", new String[] {"inter.pem"}, null, 0, 0, NO_ISSUER},
    };

    @Test
    public void chainsFromPemListsAgainstOpensslVerify() throws Exception {
        for (Object[] row : CHAINS) {
            String leaf = (String) row[0];
            String[] certs = (String[]) row[1];
            String[] crls = (String[]) row[2];
            int flags = (Integer) row[3], time = (Integer) row[4], expected = (Integer) row[5];
            String what = leaf + " flags " + flags + " at " + time;
            long store = c.XLoadStoreX(pems(certs), crls == null ? null : pems(crls));
            assertEquals(what, OK, c.ErrorCode);
            assertNotEquals(what, 0, store);
            long cert = chainCert(c, leaf);
            c.ErrorCode = -1;
            assertEquals(what, expected, c.XVerifyCertChainX(cert, store, flags, time));
            assertEquals(what, expected, c.ErrorCode);
            assertEquals(what, expected == OK, opensslAccepts(leaf, certs, crls == null ? NONE : crls, flags, time));
            c.XFreeHandleX(cert);
            c.XFreeHandleX(store);
        }
    }

    @Test
    public void badListsAndHandles() throws Exception {
        c.ErrorCode = -1;
        long store = c.XLoadStoreX(null, null);
        assertEquals(OK, c.ErrorCode);
        long leaf = chainCert(c, "good.leaf.pem");
        assertEquals(NO_ISSUER, c.XVerifyCertChainX(leaf, store, 0, 0));
        assertEquals(WRONG_HANDLE, c.XVerifyCertChainX(store, store, 0, 0));
        assertEquals(WRONG_HANDLE, c.ErrorCode);
        assertEquals(WRONG_HANDLE, c.XVerifyCertChainX(leaf, leaf, 0, 0));
        assertEquals(WRONG_HANDLE, c.XAddCertToStoreX(leaf, leaf));
        assertEquals(WRONG_HANDLE, c.XAddCertToStoreX(store, store));
        assertEquals(WRONG_HANDLE, c.XAddCRLToStoreX(store, leaf));
        c.XFreeHandleX(store);

        c.ErrorCode = OK;
        assertEquals(0, c.XLoadStoreX("-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n", null));
        assertNotEquals(OK, c.ErrorCode);
        c.XFreeHandleX(leaf);
    }

    /** Added objects belong to the store; the emptied handles are still released by Java. */
    @Test
    public void addedCertificatesAndCrlsLeaveEmptyHandles() throws Exception {
        long store = c.XLoadStoreX(pems("root.pem"), null);
        assertEquals(OK, c.ErrorCode);
        long leaf = chainCert(c, "rev-keyCompromise.leaf.pem");
        assertEquals(NO_ISSUER, c.XVerifyCertChainX(leaf, store, 0, 0));

        long inter = chainCert(c, "inter.pem");
        assertEquals(OK, c.XAddCertToStoreX(store, inter));
        assertEquals(OK, c.ErrorCode);
        assertNull(c.XEncodeObjectX(inter, CERTIFICATE, 0));
        assertNotEquals(OK, c.ErrorCode);
        c.XFreeHandleX(inter);
        assertEquals(OK, c.XVerifyCertChainX(leaf, store, 0, 0));

        long crl = chainCrl(c, "crl.inter.pem");
        assertEquals(OK, c.XAddCRLToStoreX(store, crl));
        assertNull(c.XEncodeObjectX(crl, CRL, 0));
        c.XFreeHandleX(crl);
        assertEquals(REVOKED_KEY_COMPROMISE, c.XVerifyCertChainX(leaf, store, CRL_CHECK, 0));
        long good = chainCert(c, "good.leaf.pem");
        assertEquals(OK, c.XVerifyCertChainX(good, store, CRL_CHECK, 0));
        c.XFreeHandleX(good);
        c.XFreeHandleX(leaf);
        c.XFreeHandleX(store);
    }

    private static final Object[][] RULES = {
        // certificate, rules, time, expected
        {"alice.pem", "CN=Alice", -1, OK},
        {"alice.pem", "O=Orvane Test\nOU=Unit B", -1, OK},
        {"alice.pem", "CN=Bob", -1, CERT_REJECTED},
        {"alice.pem", "SN=01AB", -1, OK},
        {"alice.pem", "SN=02CD", -1, CERT_REJECTED},
        {"bob.pem", "O=Other Org\nSN=02CD", -1, OK},
        {"alice.pem", "Nonsense=1", -1, CERT_REJECTED},
        {"expired.leaf.pem", null, 0, CERT_EXPIRED},
        {"expired.leaf.pem", null, IN_2020, OK},
        {"expired.leaf.pem", null, -1, OK},
        {"future.leaf.pem", null, 0, CERT_NOT_YET_VALID},
        // The rule is checked before the window.
        {"expired.leaf.pem", "CN=Someone Else", 0, CERT_REJECTED},
        {"expired.leaf.pem", "CN=Expired Leaf", 0, CERT_EXPIRED},
    };

    @Test
    public void subjectAndSerialRulesAndTimes() throws Exception {
        for (Object[] row : RULES) {
            String what = row[0] + " \"" + row[1] + "\" at " + row[2];
            long cert = chainCert(c, (String) row[0]);
            c.ErrorCode = -1;
            assertEquals(what, row[3], c.XValidateCertificateX(cert, (String) row[1], (Integer) row[2]));
            assertEquals(what, row[3], c.ErrorCode);
            c.XFreeHandleX(cert);
        }
        assertEquals(BAD_ARGUMENT, c.XValidateCertificateX(0, null, 0));
        long crl = chainCrl(c, "crl.inter.pem");
        assertEquals(WRONG_HANDLE, c.XValidateCertificateX(crl, null, 0));
        c.XFreeHandleX(crl);
    }
}
