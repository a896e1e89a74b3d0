package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;

import java.nio.charset.StandardCharsets;
import java.util.Arrays;
import java.util.function.Supplier;

import org.junit.After;
import org.junit.Before;
import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

/** Token secret keys on a SoftHSM2 token, judged by openssl enc with the same key values. */
public class TokenSecretTest {
    static {
        Peer.load();
    }

    static final int ATTRIBUTE_READ_ONLY = 9010, KEY_UNEXTRACTABLE = 9033, MECHANISM_INVALID = 9034,
                     USER_NOT_LOGGED_IN = 9063, P11_BUFFER_TOO_SMALL = 9075, OBJECT_NOT_EXIST = 9100;
    static final int RSA_PUBLIC = 18, RSA_PRIVATE = 19, DES = 20, DES3 = 36, AES = 38;
    static final int DES_ECB = 0x210, DES_CBC = 0x211, DES_CBC_PAD = 0x212, DES3_CBC = 0x221, DES3_CBC_PAD = 0x222,
                     AES_ECB = 0x240, AES_CBC = 0x241, AES_CBC_PAD = 0x242;
    static final int EXTRACTABLE = 0x8000;
    static final String PIN = TokenPeer.PIN;
    static final String AES_KEY = "00112233445566778899aabbccddeeff", KEK = "8899aabbccddeeff0011223344556677",
                        DES3_KEY = "0123456789abcdeffedcba987654321089abcdef01234567";

    final WKP11Crypt c = new WKP11Crypt();
    static final String MODULE = TokenPeer.MODULE;
    long context, session;

    /** A session on the token the runner made; nobody logged in. */
    static long openSession(WKP11Crypt c, long context) {
        TokenPeer.selectSlot(c, context);
        long session = c.XP11OpenSessionX(context);
        assertEquals(OK, c.ErrorCode);
        return session;
    }

    @Before
    public void open() {
        context = c.XP11InitX(MODULE);
        assertEquals(OK, c.ErrorCode);
        session = openSession(c, context);
        assertEquals(OK, c.XP11LoginX(session, PIN));
    }

    @After
    public void close() {
        c.XP11LogoutX(session);
        assertEquals(OK, c.XP11CloseSessionX(session));
        assertEquals(OK, c.XP11FinalX(context));
    }

    /** What pkcs11-tool -O shows of the secret key with that label. */
    static String listing(String label) throws Exception {
        String all = TokenPeer.toolOk("-O", "--type", "secrkey");
        for (String object : all.split("(?=Secret Key Object)"))
            if (object.contains("label:      " + label + "\n")) return object;
        throw new AssertionError("pkcs11-tool lists no key " + label + ":\n" + all);
    }

    /** A private secret key of a known value, as pkcs11-tool writes it. */
    static void writeKey(String label, String keyType, String hexValue, String... more) throws Exception {
        java.nio.file.Path value = temp(unhex(hexValue));
        String[] base = {"--write-object", value.toString(), "--type", "secrkey", "--key-type", keyType, "--label",
                         label, "--private", "--usage-wrap"};
        String[] all = Arrays.copyOf(base, base.length + more.length);
        System.arraycopy(more, 0, all, base.length, more.length);
        TokenPeer.toolOk(all);
    }

    /** A DES key generated on the token, extractable and not sensitive; its value as pkcs11-tool reads it. */
    static String generatedDesKey(WKP11Crypt c, long session, String label) throws Exception {
        long handle = c.P11GenerateSymKeyX(session, label, DES, EXTRACTABLE);
        assertEquals(OK, c.ErrorCode);
        assertNotEquals(0, handle);
        java.nio.file.Path out = temp(new byte[0]);
        TokenPeer.toolOk("--read-object", "--type", "secrkey", "--label", label, "--output-file", out.toString());
        byte[] value = java.nio.file.Files.readAllBytes(out);
        assertEquals(8, value.length);
        return hex(value);
    }

    /** openssl enc with a zero IV (or the IV given); DES lives in openssl's legacy provider. */
    static byte[] enc(byte[] input, String cipher, String key, String iv, boolean pad, boolean decrypt)
        throws Exception {
        java.util.List<String> a = new java.util.ArrayList<>(
            Arrays.asList("enc", decrypt ? "-d" : "-e", "-" + cipher, "-K", key, "-iv", iv));
        if (!pad) a.add("-nopad");
        if (cipher.startsWith("des-")) a.addAll(Arrays.asList("-provider", "legacy", "-provider", "default"));
        return openssl(input, a.toArray(new String[0]));
    }

    static byte[] bytes(int n, int seed) {
        byte[] b = new byte[n];
        for (int i = 0; i < n; i++) b[i] = (byte) (seed + 7 * i + 1);
        return b;
    }

    static byte[] tail(byte[] b, int n) {
        return Arrays.copyOfRange(b, b.length - n, b.length);
    }

    static final class Case {
        final String label, cipher;
        final int kind, mode;
        final boolean pad;

        Case(String label, int kind, int mode, String cipher, boolean pad) {
            this.label = label;
            this.kind = kind;
            this.mode = mode;
            this.cipher = cipher;
            this.pad = pad;
        }
    }

    static final Case[] CIPHERS = {
        new Case("aes", AES, AES_ECB, "aes-128-ecb", false),
        new Case("aes", AES, AES_CBC, "aes-128-cbc", false),
        new Case("aes", AES, AES_CBC_PAD, "aes-128-cbc", true),
        new Case("des", DES, DES_ECB, "des-ecb", false),
        new Case("des", DES, DES_CBC, "des-cbc", false),
        new Case("des", DES, DES_CBC_PAD, "des-cbc", true),
        new Case("des3", DES3, DES3_CBC, "des-ede3-cbc", false),
        new Case("des3", DES3, DES3_CBC_PAD, "des-ede3-cbc", true),
    };

    @Test
    public void oneCallCiphersAgreeWithOpenssl() throws Exception {
        java.util.Map<String, String> keys = new java.util.HashMap<>();
        writeKey("aes", "AES:16", AES_KEY);
        keys.put("aes", AES_KEY);
        writeKey("des3", "DES3:24", DES3_KEY);
        keys.put("des3", DES3_KEY);
        keys.put("des", generatedDesKey(c, session, "des"));
        for (Case k : CIPHERS) {
            String what = k.cipher + (k.pad ? " padded" : "");
            // Whole blocks without padding; with it, a last block of 13 or 5 bytes, which
            // decryption's final step hands back into the room the update left.
            byte[] plain = bytes(k.pad ? 45 : 48, k.mode);
            byte[] expected = enc(plain, k.cipher, keys.get(k.label), "0", k.pad, false);
            // A handle that names no key: the label finds it.
            byte[] byLabel = c.P11SymEncryptExX(session, k.label, 0x7fff0000L, k.kind, null, plain, k.mode);
            assertEquals(what, OK, c.ErrorCode);
            assertArrayEquals(what, expected, byLabel);
            // The IV arrays are not used: the token runs with the zero IV.
            assertArrayEquals(what, expected, c.P11SymEncryptExX(session, k.label, 0x7fff0000L, k.kind, bytes(16, 3),
                                                                 plain, k.mode));
            assertArrayEquals(what, plain, c.P11SymDecryptX(session, k.label, k.kind, null, expected, k.mode));
            assertEquals(what, OK, c.ErrorCode);
            assertArrayEquals(what, plain,
                              c.P11SymDecryptX(session, k.label, k.kind, bytes(16, 9), expected, k.mode));
        }
        // A label no key carries, and a ciphertext the token's padding check refuses.
        assertNull(c.P11SymDecryptX(session, "no such key", AES, null, new byte[16], AES_CBC));
        assertEquals(OBJECT_NOT_EXIST, c.ErrorCode);
        byte[] badPadding = enc(bytes(16, 1), "aes-128-ecb", AES_KEY, "0", false, false);
        assertNull(c.P11SymDecryptX(session, "aes", AES, null, badPadding, AES_CBC_PAD));
        assertNotEquals(OK, c.ErrorCode);
    }

    @Test
    public void generatedKeyByHandleThenByLabelOnceItsHandleIsGone() throws Exception {
        long handle = c.P11GenerateSymKeyX(session, "roll", AES, 0);
        assertEquals(OK, c.ErrorCode);
        assertNotEquals(0, handle);
        // The new key is on the token under its label, with the label as its CKA_ID.
        String listed = listing("roll");
        assertTrue(listed, listed.contains("label:      roll"));
        assertTrue(listed, listed.contains("ID:         " + hex("roll".getBytes(StandardCharsets.US_ASCII))));

        byte[] plain = bytes(32, 5);
        byte[] byHandle = c.P11SymEncryptExX(session, "roll", handle, AES, null, plain, AES_CBC);
        assertEquals(OK, c.ErrorCode);
        assertEquals(32, byHandle.length);
        assertArrayEquals(plain, c.P11SymDecryptX(session, "roll", AES, null, byHandle, AES_CBC));
        // The handle alone names the key while it lives.
        assertArrayEquals(byHandle, c.P11SymEncryptExX(session, "nowhere", handle, AES, null, plain, AES_CBC));

        // Destroyed and written again by value: the old handle falls back to the label.
        TokenPeer.toolOk("--delete-object", "--type", "secrkey", "--label", "roll");
        writeKey("roll", "AES:16", AES_KEY);
        byte[] fallback = c.P11SymEncryptExX(session, "roll", handle, AES, null, plain, AES_CBC);
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(enc(plain, "aes-128-cbc", AES_KEY, "0", false, false), fallback);
        // Key handle 0 is refused before the token is asked: no fallback.
        assertNull(c.P11SymEncryptExX(session, "roll", 0, AES, null, plain, AES_CBC));
        assertEquals(WRONG_HANDLE, c.ErrorCode);
        // A stale handle with no key under the label either.
        assertNull(c.P11SymEncryptExX(session, "nowhere", handle, AES, null, plain, AES_CBC));
        assertEquals(OBJECT_NOT_EXIST, c.ErrorCode);
    }

    @Test
    public void generationWithoutLoginGivesItsCode() {
        assertEquals(OK, c.XP11LogoutX(session));
        long result = c.P11GenerateSymKeyX(session, "nologin", AES, 0);
        assertEquals(USER_NOT_LOGGED_IN, c.ErrorCode);
        assertEquals(USER_NOT_LOGGED_IN, result);
        assertEquals(OK, c.XP11LoginX(session, PIN));
    }

    @Test
    public void macIsTheCbcCiphertextWithZeroOrGivenIv() throws Exception {
        writeKey("mac", "AES:16", AES_KEY);
        String desKey = generatedDesKey(c, session, "desmac");
        byte[] data = bytes(48, 11);
        // No IV array: a zero IV.
        byte[] mac = c.P11GenerateMACX(session, "mac", AES, null, data, 0, AES_CBC);
        assertEquals(OK, c.ErrorCode);
        byte[] expected = enc(data, "aes-128-cbc", AES_KEY, "0", false, false);
        assertArrayEquals(expected, mac);
        // A given IV (the token layer reads it as text: no zero byte in it).
        byte[] iv = bytes(16, 40);
        assertArrayEquals(enc(data, "aes-128-cbc", AES_KEY, hex(iv), false, false),
                          c.P11GenerateMACX(session, "mac", AES, iv, data, 0, AES_CBC));
        assertNotEquals(hex(tail(expected, 16)),
                        hex(tail(c.P11GenerateMACX(session, "mac", AES, iv, data, 0, AES_CBC), 16)));
        // DES-CBC over three blocks: the last 8 bytes are the CBC-MAC.
        byte[] desData = bytes(24, 2);
        byte[] desMac = c.P11GenerateMACX(session, "desmac", DES, null, desData, 0, DES_CBC);
        assertEquals(OK, c.ErrorCode);
        assertEquals(24, desMac.length);
        assertArrayEquals(tail(enc(desData, "des-cbc", desKey, "0", false, false), 8), tail(desMac, 8));
        // A ciphertext beyond the token layer's 1024 bytes.
        assertNull(c.P11GenerateMACX(session, "mac", AES, null, bytes(1040, 0), 0, AES_CBC));
        assertEquals(P11_BUFFER_TOO_SMALL, c.ErrorCode);
        assertNull(c.P11GenerateMACX(session, "no such key", AES, null, data, 0, AES_CBC));
        assertEquals(OBJECT_NOT_EXIST, c.ErrorCode);
    }

    @Test
    public void wrapUnwrapAndTheExtractableFlag() throws Exception {
        writeKey("kek", "AES:16", KEK);
        writeKey("inner", "AES:16", AES_KEY, "--extractable");
        byte[] wrapped = c.P11WrapKeyX(session, "inner", AES, "kek", AES, 0, AES_CBC);
        assertEquals(OK, c.ErrorCode);
        assertEquals(AES_KEY, hex(enc(wrapped, "aes-128-cbc", KEK, "0", false, true)));

        // Under a private RSA public key (PKCS#1 v1.5 whatever the mode), into a new key by its private key.
        TokenPeer.toolOk("--keypairgen", "--key-type", "rsa:2048", "--label", "rsawrap", "--id", "0e0e", "--private",
             "--usage-wrap");
        byte[] byRsa = c.P11WrapKeyX(session, "inner", AES, "rsawrap", RSA_PUBLIC, 0, 0);
        assertEquals(OK, c.ErrorCode);
        assertEquals(256, byRsa.length);
        java.nio.file.Path out = temp(new byte[0]);
        TokenPeer.toolOk("--decrypt", "-m", "RSA-PKCS", "--id", "0e0e", "--input-file", temp(byRsa).toString(), "--output-file",
             out.toString());
        assertEquals(AES_KEY, hex(java.nio.file.Files.readAllBytes(out)));
        assertEquals(OK, c.P11UnWrapKeyX(session, "rsawrap", RSA_PUBLIC, byRsa, "copy", AES, EXTRACTABLE, 0));
        assertEquals(OK, c.ErrorCode);
        byte[] plain = bytes(16, 8);
        assertArrayEquals(enc(plain, "aes-128-ecb", AES_KEY, "0", false, false),
                          c.P11SymEncryptExX(session, "copy", 0x7fff0000L, AES, null, plain, AES_ECB));
        String copy = listing("copy");
        assertTrue(copy, copy.contains("ID:         " + hex("copy".getBytes(StandardCharsets.US_ASCII))));

        // The token's refusal is passed on: this one unwraps with none of our symmetric modes.
        assertEquals(MECHANISM_INVALID, c.P11UnWrapKeyX(session, "kek", AES, wrapped, "again", AES, 0, AES_CBC));
        assertEquals(MECHANISM_INVALID, c.ErrorCode);
        assertFalse(TokenPeer.toolOk("-O", "--type", "secrkey").contains("label:      again"));

        // Once not extractable, pkcs11-tool shows it and the token refuses to wrap it.
        assertEquals(OK, c.P11SetObjExtractableX(session, "inner", AES, false));
        assertEquals(OK, c.ErrorCode);
        String listed = listing("inner");
        assertTrue(listed, listed.contains("Access:"));
        assertFalse(listed, listed.contains("extractable"));
        assertNull(c.P11WrapKeyX(session, "inner", AES, "kek", AES, 0, AES_CBC));
        assertEquals(KEY_UNEXTRACTABLE, c.ErrorCode);
        // The token lets the flag go one way only.
        assertEquals(ATTRIBUTE_READ_ONLY, c.P11SetObjExtractableX(session, "inner", AES, true));
        assertEquals(ATTRIBUTE_READ_ONLY, c.ErrorCode);
        assertEquals(OBJECT_NOT_EXIST, c.P11SetObjExtractableX(session, "no such key", AES, false));
    }

    /**
     * A private key whose PKCS#8 form is whole AES blocks and more than 2048 bytes: the token wraps it
     * with AES-CBC, and only the public exponent is varied to get there.
     */
    static byte[] blockAlignedPrivateKey() throws Exception {
        java.security.KeyPairGenerator g = java.security.KeyPairGenerator.getInstance("RSA");
        g.initialize(3712);
        java.security.KeyFactory f = java.security.KeyFactory.getInstance("RSA");
        java.math.BigInteger one = java.math.BigInteger.ONE;
        for (int tries = 0; tries < 60; tries++) {
            java.security.interfaces.RSAPrivateCrtKey k =
                (java.security.interfaces.RSAPrivateCrtKey) g.generateKeyPair().getPrivate();
            java.math.BigInteger p = k.getPrimeP(), q = k.getPrimeQ();
            java.math.BigInteger phi = p.subtract(one).multiply(q.subtract(one));
            // Each byte more of the exponent (up to the 64 bits allowed) is a byte more of the key.
            for (int bytes = 3; bytes <= 8; bytes++) {
                java.math.BigInteger e = one.shiftLeft(8 * bytes - 1).add(one);
                while (!e.gcd(phi).equals(one)) e = e.add(java.math.BigInteger.TWO);
                java.math.BigInteger d = e.modInverse(phi);
                byte[] der = f.generatePrivate(new java.security.spec.RSAPrivateCrtKeySpec(
                                                   k.getModulus(), e, d, p, q, d.mod(p.subtract(one)),
                                                   d.mod(q.subtract(one)), q.modInverse(p)))
                                 .getEncoded();
                if (der.length % 16 == 0) return der;
            }
        }
        throw new AssertionError("no key of whole blocks");
    }

    @Test
    public void wrappedKeyBeyondTheBufferIsRefused() throws Exception {
        byte[] der = blockAlignedPrivateKey();
        assertTrue(der.length > 2048);
        TokenPeer.toolOk("--write-object", temp(der).toString(), "--type", "privkey", "--label", "bigkey", "--id", "0b0b",
             "--private", "--extractable");
        writeKey("bigkek", "AES:16", KEK);
        assertNull(c.P11WrapKeyX(session, "bigkey", RSA_PRIVATE, "bigkek", AES, 0, AES_CBC));
        assertEquals(P11_BUFFER_TOO_SMALL, c.ErrorCode);
    }

    @Test
    public void sessionOfZeroReachesNoToken() {
        byte[] b = new byte[16];
        // Each native's own form of the refusal.
        Object[][] cases = {
            {(Supplier<?>) () -> c.P11GenerateSymKeyX(0, "k", AES, 0), (long) BAD_ARGUMENT},
            {(Supplier<?>) () -> c.P11WrapKeyX(0, "inner", AES, "kek", AES, 0, AES_CBC), null},
            {(Supplier<?>) () -> c.P11UnWrapKeyX(0, "kek", AES, b, "n", AES, 0, AES_CBC), BAD_ARGUMENT},
            {(Supplier<?>) () -> c.P11GenerateMACX(0, "mac", AES, b, b, 0, AES_CBC), null},
            {(Supplier<?>) () -> c.P11SymDecryptX(0, "aes", AES, b, b, AES_CBC), null},
            {(Supplier<?>) () -> c.P11SymEncryptExX(0, "aes", 1, AES, b, b, AES_CBC), null},
            {(Supplier<?>) () -> c.P11SetObjExtractableX(0, "k", AES, false), BAD_ARGUMENT},
        };
        for (int i = 0; i < cases.length; i++) {
            c.ErrorCode = 0;
            assertEquals("case " + i, cases[i][1], ((Supplier<?>) cases[i][0]).get());
            assertEquals("case " + i, BAD_ARGUMENT, c.ErrorCode);
        }
    }
}
