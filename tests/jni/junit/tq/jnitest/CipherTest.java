package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static tq.jnitest.Peer.*;

import java.io.ByteArrayOutputStream;
import java.nio.charset.StandardCharsets;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Random;

import javax.crypto.SecretKeyFactory;
import javax.crypto.spec.PBEKeySpec;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

public class CipherTest {
    static {
        Peer.load();
    }

    private static final int CBC = 0x20, ECB = 0x10, PBKDF1 = 0x100, PBKDF2 = 0x200;

    /** Algorithm id, openssl's name, key and IV bytes. */
    private static final Object[][] ALGORITHMS = {
        {0, "des", 8, 8}, {1, "des", 8, 8}, {2, "des-ede3", 24, 8}, {4, "rc4", 16, 0},
        {5, "aes-128", 16, 16}, {6, "aes-192", 24, 16}, {7, "aes-256", 32, 16},
    };

    private final WKP11Crypt c = new WKP11Crypt();
    private final byte[] salt = "saltsalt".getBytes(StandardCharsets.US_ASCII);

    static byte[] pbkdf2(String password, byte[] salt, int iterations, int n) throws Exception {
        PBEKeySpec spec = new PBEKeySpec(password.toCharArray(), salt, iterations, n * 8);
        return SecretKeyFactory.getInstance("PBKDF2WithHmacSHA1").generateSecret(spec).getEncoded();
    }

    static byte[] pbkdf1(String md, String password, byte[] salt, int iterations, int n) throws Exception {
        MessageDigest h = MessageDigest.getInstance(md);
        h.update(password.getBytes(StandardCharsets.UTF_8));
        h.update(salt);
        byte[] t = h.digest();
        for (int i = 1; i < iterations; i++) t = h.digest(t);
        return Arrays.copyOf(t, n);
    }

    static String opensslName(String name, int mode) {
        if (name.equals("rc4")) return "rc4";
        if (mode == ECB) return name.equals("des-ede3") ? "des-ede3" : name + "-ecb";
        return name + "-cbc";
    }

    static byte[] enc(String cipher, byte[] key, byte[] iv, byte[] data, boolean encrypt) throws Exception {
        List<String> args = new ArrayList<>(Arrays.asList("enc", encrypt ? "-e" : "-d", "-" + cipher, "-nosalt",
                                                          "-K", hex(key)));
        if (iv.length > 0) args.addAll(Arrays.asList("-iv", hex(iv)));
        if (cipher.startsWith("des") || cipher.equals("rc4")) {
            args.addAll(Arrays.asList("-provider", "legacy", "-provider", "default"));
        }
        return openssl(data, args.toArray(new String[0]));
    }

    /** Streams data through the natives in chunks, with offsets inside larger arrays. */
    byte[] stream(long key, byte[] data, int chunk, boolean encrypt) {
        byte[] in = new byte[data.length + 9];
        System.arraycopy(data, 0, in, 7, data.length);
        byte[] out = new byte[data.length + 64];
        int at = 3;
        for (int off = 0; off < data.length; off += chunk) {
            int n = Math.min(chunk, data.length - off);
            int count = encrypt ? c.XEncryptUpdateX(key, in, 7 + off, n, out, at)
                                : c.XDecryptUpdateX(key, in, 7 + off, n, out, at);
            assertEquals(OK, c.ErrorCode);
            at += count;
        }
        int count = encrypt ? c.XEncryptFinalX(key, out, at) : c.XDecryptFinalX(key, out, at);
        assertEquals(OK, c.ErrorCode);
        at += count;
        return Arrays.copyOfRange(out, 3, at);
    }

    @Test
    public void everyAlgorithmModeAndDerivationAgainstOpenssl() throws Exception {
        byte[] plain = new byte[100];
        new Random(5).nextBytes(plain);
        for (Object[] a : ALGORITHMS) {
            int id = (Integer) a[0];
            int keyBytes = (Integer) a[2], ivBytes = (Integer) a[3];
            int n = keyBytes + ivBytes;
            String pbkdf1Digest = n <= 20 ? "SHA-1" : n <= 32 ? "SHA-256" : "SHA-512";
            int pbkdf1Selector = n <= 20 ? 2 : n <= 32 ? 4 : 6;
            for (int mode : id == 4 ? new int[] {CBC} : new int[] {CBC, ECB, 0}) {
                for (int kdf : new int[] {PBKDF2, 0, PBKDF1 | pbkdf1Selector}) {
                    String what = a[1] + " mode " + mode + " kdf " + kdf;
                    int iterations = kdf == PBKDF2 ? 1000 : 3;
                    byte[] derived = (kdf & PBKDF1) != 0
                                         ? pbkdf1(pbkdf1Digest, "pass word", salt, iterations, n)
                                         : pbkdf2("pass word", salt, iterations, n);
                    byte[] keyValue = Arrays.copyOf(derived, keyBytes);
                    byte[] iv = mode == ECB ? new byte[0] : Arrays.copyOfRange(derived, keyBytes, n);
                    String cipher = opensslName((String) a[1], mode == ECB ? ECB : CBC);
                    byte[] expected = enc(cipher, keyValue, iv, plain, true);

                    long key = c.XGenerateKeyX(id, "pass word", salt, iterations, mode | kdf);
                    assertEquals(what, OK, c.ErrorCode);
                    assertEquals(what, OK, c.XEncryptInitX(key, null));
                    assertArrayEquals(what, expected, stream(key, plain, 13, true));
                    // The same through an IV given by the caller.
                    assertEquals(what, OK, c.XDecryptInitX(key, ivBytes > 0 ? Arrays.copyOfRange(derived, keyBytes, n)
                                                                             : null));
                    assertArrayEquals(what, plain, stream(key, expected, 11, false));
                    c.XFreeHandleX(key);
                }
            }
        }
    }

    @Test
    public void blocksAsTheyComplete() {
        long key = c.XGenerateKeyX(1, "pw", salt, 1, CBC);
        assertEquals(OK, c.XEncryptInitX(key, null));
        byte[] out = new byte[40];
        assertEquals(16, c.XEncryptUpdateX(key, new byte[20], 0, 20, out, 4));
        assertEquals(8, c.XEncryptFinalX(key, out, 20));
        assertEquals(OK, c.ErrorCode);
        c.XFreeHandleX(key);
    }

    @Test
    public void brokenPaddingFailsAtTheFinalStep() throws Exception {
        long key = c.XGenerateKeyX(5, "pw", salt, 10, CBC);
        assertEquals(OK, c.XEncryptInitX(key, null));
        byte[] sealed = stream(key, new byte[100], 16, true); // 12 bytes of padding
        // The last plain byte becomes 0: no valid padding.
        sealed[sealed.length - 17] ^= 0x0c;
        assertEquals(OK, c.XDecryptInitX(key, null));
        byte[] out = new byte[200];
        assertEquals(96, c.XDecryptUpdateX(key, sealed, 0, sealed.length, out, 0));
        assertEquals(0, c.XDecryptFinalX(key, out, 96));
        assertEquals(DECRYPT_FAILED, c.ErrorCode);
        c.XFreeHandleX(key);
    }

    /** Ranges that do not lie inside the Java arrays. */
    @Test
    public void argumentChecks() {
        long key = c.XGenerateKeyX(7, "pw", salt, 1, CBC);
        assertEquals(OK, c.XEncryptInitX(key, null));
        byte[] in = new byte[32];
        byte[] out = new byte[64];
        Object[][] updates = {
            {"negative offset", in, -1, 4, out, 0, BAD_ARGUMENT},
            {"negative length", in, 0, -4, out, 0, BAD_ARGUMENT},
            {"past the input", in, 30, 4, out, 0, BAD_ARGUMENT},
            {"overflowing range", in, Integer.MAX_VALUE, 4, out, 0, BAD_ARGUMENT},
            {"no input", null, 0, 0, out, 0, BAD_ARGUMENT},
            {"no output", in, 0, 16, null, 0, BAD_ARGUMENT},
            {"output offset past", in, 0, 16, out, 65, BAD_ARGUMENT},
            {"negative output offset", in, 0, 16, out, -1, BAD_ARGUMENT},
            {"output too small", in, 0, 32, out, 40, BUFFER_TOO_SMALL},
        };
        for (Object[] u : updates) {
            c.ErrorCode = -1;
            assertEquals((String) u[0], 0, c.XEncryptUpdateX(key, (byte[]) u[1], (Integer) u[2], (Integer) u[3],
                                                            (byte[]) u[4], (Integer) u[5]));
            assertEquals((String) u[0], u[6], c.ErrorCode);
        }
        assertArrayEquals("nothing copied", new byte[64], out);
        assertEquals(0, c.XEncryptFinalX(key, out, 65));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        assertEquals(0, c.XEncryptFinalX(key, out, 64));
        assertEquals(BUFFER_TOO_SMALL, c.ErrorCode);
        // An IV shorter than the cipher's.
        assertEquals(BAD_ARGUMENT, c.XEncryptInitX(key, new byte[15]));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        assertEquals(OK, c.XEncryptInitX(key, new byte[16]));
        c.XFreeHandleX(key);
    }
}
