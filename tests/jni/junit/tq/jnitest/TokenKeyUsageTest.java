package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static tq.jnitest.Peer.*;

import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.HashMap;
import java.util.Map;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

/** Choosing the token certificate and its private key by key usage, against certificates pkcs11-tool wrote. */
public class TokenKeyUsageTest {
    static {
        Peer.load();
    }

    private static final int NO_CERTIFICATE = 5010, OBJECT_NOT_EXIST = 9100;
    private static final int DIGITAL_SIGNATURE = 0x80, NON_REPUDIATION = 0x40, KEY_ENCIPHERMENT = 0x20,
                             DATA_ENCIPHERMENT = 0x10;
    private static final int SHA256 = 4, HASH_DATA = 0x10000;

    private final WKP11Crypt c = new WKP11Crypt();
    private final Map<String, byte[]> ders = new HashMap<>();

    /**
     * A certificate of a key of its own, valid for the days given, with the key-usage extension (none when
     * null); both written onto the token under the ID, the certificate with the label.
     */
    private void write(String label, String id, String keyUsage, int days) throws Exception {
        Path key = temp(new byte[0]);
        openssl(null, "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024", "-out", key.toString());
        String config = "[req]\ndistinguished_name=dn\n[dn]\n[ext]\n"
                        + (keyUsage == null ? "basicConstraints=CA:FALSE\n" : "keyUsage=critical," + keyUsage + "\n");
        Path cert = temp(new byte[0]);
        openssl(null, "req", "-x509", "-new", "-key", key.toString(), "-subj", "/CN=" + label, "-days",
                String.valueOf(days), "-config", temp(config.getBytes(StandardCharsets.US_ASCII)).toString(),
                "-extensions", "ext", "-outform", "DER", "-out", cert.toString());
        ders.put(label, Files.readAllBytes(cert));
        TokenPeer.toolOk("--write-object", cert.toString(), "--type", "cert", "--label", label, "--id", id);
        TokenPeer.toolOk("--write-object", key.toString(), "--type", "privkey", "--label", label + " key", "--id", id);
    }

    private byte[] modulusOf(byte[] certificateDer) {
        long cert = c.XDecodeObjectX(CERTIFICATE, certificateDer, 0);
        long pub = c.XCertGetPublicKeyX(cert);
        byte[] modulus = c.XRSAKeyGetModulusX(pub);
        assertEquals(OK, c.ErrorCode);
        c.XFreeHandleX(pub);
        c.XFreeHandleX(cert);
        return modulus;
    }

    /** The selection by usage chooses the certificate of that label, and its key; null: none. */
    private void expectChoice(long session, int usage, String label) {
        String what = "usage 0x" + Integer.toHexString(usage);
        long cert = c.GPKI_XGetCertificateX(session, usage, 0);
        int certCode = c.ErrorCode;
        long key = c.GPKI_XGetPrivateKeyX(session, usage, 0);
        int keyCode = c.ErrorCode;
        if (label == null) {
            assertEquals(what, NO_CERTIFICATE, certCode);
            assertEquals(what, 0, cert);
            assertEquals(what, NO_CERTIFICATE, keyCode);
            assertEquals(what, 0, key);
            return;
        }
        assertEquals(what, OK, certCode);
        assertEquals(what, OK, keyCode);
        assertArrayEquals(what + " gives " + label, ders.get(label), c.XEncodeObjectX(cert, CERTIFICATE, 0));
        assertArrayEquals(what + " gives the key of " + label, modulusOf(ders.get(label)), c.XRSAKeyGetModulusX(key));
        c.XFreeHandleX(cert);
        c.XFreeHandleX(key);
    }

    @Test
    public void latestWithTheWantedBitsUnlessCert1Signs() throws Exception {
        try (TokenPeer t = TokenPeer.open(c, TokenPeer.MODULE)) {
            assertEquals(OK, c.XP11LoginX(t.session, TokenPeer.PIN));
            // The token holds a key but no certificate.
            expectChoice(t.session, DIGITAL_SIGNATURE, null);
            expectChoice(t.session, 0, null);

            write("sign old", "01", "digitalSignature", 2000);
            write("sign new", "02", "digitalSignature,nonRepudiation", 3000);
            write("encipher newest", "03", "keyEncipherment", 4000);
            write("no usage latest", "04", null, 5000);
            Object[][] cases = {{DIGITAL_SIGNATURE, "sign new"},
                                {NON_REPUDIATION, "sign new"},
                                {DIGITAL_SIGNATURE | NON_REPUDIATION, "sign new"},
                                {KEY_ENCIPHERMENT, "encipher newest"},
                                // Every certificate with the extension qualifies; the one without is left out.
                                {0, "encipher newest"},
                                {DATA_ENCIPHERMENT, null},
                                {DIGITAL_SIGNATURE | KEY_ENCIPHERMENT, null}};
            for (Object[] k : cases) expectChoice(t.session, (Integer) k[0], (String) k[1]);

            // The chosen key signs on the token; openssl checks it with the certificate.
            byte[] data = "chosen by usage".getBytes(StandardCharsets.US_ASCII);
            long key = c.GPKI_XGetPrivateKeyX(t.session, DIGITAL_SIGNATURE, 0);
            byte[] sig = c.XPureSignX(key, data, HASH_DATA | SHA256);
            assertEquals(OK, c.ErrorCode);
            c.XFreeHandleX(key);
            Path pub = temp(openssl(ders.get("sign new"), "x509", "-inform", "DER", "-noout", "-pubkey"));
            openssl(data, "dgst", "-sha256", "-verify", pub.toString(), "-signature", temp(sig).toString());

            // "cert1" is the signing certificate whenever digitalSignature is asked for, whatever its own
            // bits and validity.
            write("cert1", "05", "keyEncipherment", 1000);
            for (int usage : new int[] {DIGITAL_SIGNATURE, DIGITAL_SIGNATURE | NON_REPUDIATION})
                expectChoice(t.session, usage, "cert1");
            expectChoice(t.session, NON_REPUDIATION, "sign new");
            expectChoice(t.session, KEY_ENCIPHERMENT, "encipher newest");

            // Without its key, "cert1" is still chosen: the key's absence is the answer.
            TokenPeer.toolOk("--delete-object", "--type", "privkey", "--id", "05");
            assertEquals(0, c.GPKI_XGetPrivateKeyX(t.session, DIGITAL_SIGNATURE, 0));
            assertEquals(OBJECT_NOT_EXIST, c.ErrorCode);
            long cert = c.GPKI_XGetCertificateX(t.session, DIGITAL_SIGNATURE, 0);
            assertEquals(OK, c.ErrorCode);
            assertArrayEquals(ders.get("cert1"), c.XEncodeObjectX(cert, CERTIFICATE, 0));
            c.XFreeHandleX(cert);

            assertEquals(0, c.GPKI_XGetPrivateKeyX(0, DIGITAL_SIGNATURE, 0));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
            assertEquals(0, c.GPKI_XGetCertificateX(0, KEY_ENCIPHERMENT, 0));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
        }
    }
}
