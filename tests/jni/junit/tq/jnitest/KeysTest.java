package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static tq.jnitest.Peer.*;

import java.nio.charset.StandardCharsets;
import java.nio.file.Path;

import org.junit.After;
import org.junit.Before;
import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

public class KeysTest {
    static {
        Peer.load();
    }

    /** Hash selectors and openssl's digest names. */
    private static final String[] DIGESTS = {"sha1", "md5", "sha1", "sha224", "sha256", "sha384", "sha512"};
    private static final int HASH_DATA = 0x10000;

    private final WKP11Crypt c = new WKP11Crypt();
    private long key;
    private long pub;
    private final byte[] data = "the data to sign\n".getBytes(StandardCharsets.US_ASCII);

    @Before
    public void keys() throws Exception {
        key = decode(c, PRIVATEKEY, "user.rsa.der");
        pub = decode(c, PUBLICKEY, "user.pub.der");
    }

    @After
    public void release() {
        c.XFreeHandleX(key);
        c.XFreeHandleX(pub);
    }

    @Test
    public void signAndVerifyWithOpensslForEverySelector() throws Exception {
        Path file = temp(data);
        String keyPem = fixture("user.key.pem").toString();
        String pubPem = fixture("user.pub.pem").toString();
        for (int selector = 0; selector < DIGESTS.length; selector++) {
            String md = "-" + DIGESTS[selector];
            byte[] ours = c.XPureSignX(key, data, selector | HASH_DATA);
            assertEquals(OK, c.ErrorCode);
            Path sig = temp(ours);
            assertEquals(md, 0, run(null, "dgst", md, "-verify", pubPem, "-signature", sig.toString(),
                                    file.toString()).status);
            byte[] theirs = openssl(null, "dgst", md, "-sign", keyPem, file.toString());
            assertArrayEquals(md, theirs, ours);
            assertEquals(md, OK, c.XPureVerifyX(pub, data, theirs, selector | HASH_DATA));
            assertEquals(OK, c.ErrorCode);
            theirs[10] ^= 1;
            assertNotEquals(md, OK, c.XPureVerifyX(pub, data, theirs, selector | HASH_DATA));
            assertNotEquals(OK, c.ErrorCode);
        }
        assertNull(c.XPureSignX(key, data, 7 | HASH_DATA));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
    }

    @Test
    public void rawOperationsAgainstPkeyutl() throws Exception {
        String keyPem = fixture("user.key.pem").toString();
        String pubPem = fixture("user.pub.pem").toString();
        byte[] signed = c.XPrivateEncryptX(key, data, 0);
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(openssl(data, "pkeyutl", "-sign", "-inkey", keyPem, "-pkeyopt", "rsa_padding_mode:pkcs1"),
                          signed);
        assertArrayEquals(data, openssl(signed, "pkeyutl", "-verifyrecover", "-pubin", "-inkey", pubPem));
        assertArrayEquals(data, c.XPublicDecryptX(pub, signed, 0));

        byte[] sealed = c.XPublicEncryptX(pub, data, 0);
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(data, openssl(sealed, "pkeyutl", "-decrypt", "-inkey", keyPem));
        byte[] theirs = openssl(data, "pkeyutl", "-encrypt", "-pubin", "-inkey", pubPem);
        assertArrayEquals(data, c.XPrivateDecryptX(key, theirs, 0));
        assertEquals(OK, c.ErrorCode);
        theirs[0] ^= 0x55;
        assertNull(c.XPrivateDecryptX(key, theirs, 0));
        assertNotEquals(OK, c.ErrorCode);
    }

    @Test
    public void componentsAndPublicDer() throws Exception {
        String modulus = new String(openssl(null, "rsa", "-in", fixture("user.key.pem").toString(), "-noout",
                                            "-modulus"), StandardCharsets.US_ASCII).trim();
        assertEquals(modulus.substring("Modulus=".length()).toLowerCase(), hex(c.XRSAKeyGetModulusX(key)));
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(new byte[] {1, 0, 1}, c.XRSAKeyGetExponentX(pub));

        long derived = c.XPrivateKeyGetPublicKeyX(key);
        assertEquals(OK, c.ErrorCode);
        assertEquals(OK, c.XCheckKeyPairX(key, derived));
        byte[] hash = c.XPublicKeyHashedX(derived);
        assertEquals(OK, c.ErrorCode);
        byte[] der = c.XEncodeObjectX(derived, PUBLICKEY, 0);
        assertArrayEquals(openssl(der, "dgst", "-sha1", "-binary"), hash);
        assertArrayEquals(hash, c.XPublicKeyHashedX(pub));
        c.XFreeHandleX(derived);

        long built = c.XCreateRSAPublicKeyX(c.XRSAKeyGetModulusX(key), new byte[] {1, 0, 1}, 0);
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(hash, c.XPublicKeyHashedX(built));
        c.XFreeHandleX(built);

        assertNull(c.XPublicKeyHashedX(key));
        assertEquals(WRONG_HANDLE, c.ErrorCode);
    }
}
