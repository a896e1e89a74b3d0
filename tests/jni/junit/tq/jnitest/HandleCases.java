package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static org.junit.Assert.fail;
import static tq.jnitest.Peer.*;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Paths;
import java.util.Arrays;
import java.util.HashSet;
import java.util.LinkedHashMap;
import java.util.Map;
import java.util.Set;
import java.util.function.IntSupplier;
import java.util.function.LongFunction;

import com.vandrelot.crypto.WKP11Crypt;

/**
 * Values that are no record of the kind a native takes: small numbers (a code returned in place of a handle, a
 * count) and records of another kind. Each case runs in a JVM of its own (TokenHandleValuesTest starts them), so
 * a native that reads such a value kills only that JVM, and the case shows as a crash.
 */
public final class HandleCases {
    static {
        Peer.load();
    }

    /** What the binding answers for a missing object list. */
    static final int NO_LIST = 9100;
    static final int MEMORY = 5002;
    static final String PASSED = "case passed: ";

    /** No record lives at these: codes, counts, the top of the first 64 KiB, and -1. */
    static final long[] SMALL = {1, 3, 65535, -1};

    interface Case {
        void run(WKP11Crypt c) throws Exception;
    }

    static final Map<String, Case> CASES = new LinkedHashMap<>();

    private static void add(String name, Case body) {
        CASES.put(name, body);
    }

    /** The code a call leaves in ErrorCode, which it must write. */
    private static int codeOf(WKP11Crypt c, Runnable call) {
        c.ErrorCode = -1;
        call.run();
        return c.ErrorCode;
    }

    private static void refused(String what, WKP11Crypt c, Runnable call) {
        assertEquals(what, BAD_ARGUMENT, codeOf(c, call));
    }

    private static final byte[] DATA = "data".getBytes(StandardCharsets.US_ASCII);

    /** The natives that take a crypto-core handle, one of each result; value in, code 5005 out. */
    private static void cryptoNatives(String what, WKP11Crypt c, long v) throws Exception {
        long message = decode(c, PKCS7, "signed.p7.der");
        byte[] content = read("content.txt");
        refused(what + ": String", c, () -> assertNull(c.XCertGetSubjectX(v, 0)));
        refused(what + ": byte[]", c, () -> assertNull(c.XEncodeObjectX(v, CERTIFICATE, 0)));
        refused(what + ": long", c, () -> assertEquals(0, c.XCertGetPublicKeyX(v)));
        refused(what + ": int", c, () -> c.XPKCS7GetCertCountX(v));
        refused(what + ": object", c, () -> assertNull(c.XCertGetBasicConstraintsX(v)));
        refused(what + ": two handles", c, () -> c.XCheckKeyPairX(v, v));
        refused(what + ": cipher", c, () -> c.XEncryptInitX(v, new byte[16]));
        refused(what + ": store that may be left out", c,
                () -> c.XPKCS7VerifyX(v, message, content, null, 0, 0, 0));
        c.XFreeHandleX(message);
    }

    private static Map<String, IntSupplier> contextNatives(WKP11Crypt c, long v) {
        Map<String, IntSupplier> m = new LinkedHashMap<>();
        m.put("XP11OpenSessionX", () -> (int) c.XP11OpenSessionX(v));
        m.put("XP11GetTokenSNX", () -> c.XP11GetTokenSNX(v) == null ? 0 : 1);
        m.put("XP11SetCurrentSlotX", () -> c.XP11SetCurrentSlotX(v, 0));
        m.put("XSetCurrentSlotX", () -> c.XSetCurrentSlotX(v, 0));
        m.put("XP11FinalX", () -> c.XP11FinalX(v));
        return m;
    }

    private static Map<String, IntSupplier> sessionNatives(WKP11Crypt c, long v) {
        Map<String, IntSupplier> m = new LinkedHashMap<>();
        m.put("XP11LoginX", () -> c.XP11LoginX(v, TokenPeer.PIN));
        m.put("XP11LoginInitX", () -> c.XP11LoginInitX(v));
        m.put("P11DecryptX", () -> c.P11DecryptX(v, "userkey", "MAA=", 0) == null ? 0 : 1);
        m.put("WKP11SignX", () -> c.WKP11SignX(v, "userkey", 0, DATA, 0, 4) == null ? 0 : 1);
        m.put("XP11CryptGetPrivateKeyX", () -> (int) c.XP11CryptGetPrivateKeyX(v, "userkey", 0));
        m.put("P11GetRandomNumberX", () -> c.P11GetRandomNumberX(v, 8) == null ? 0 : 1);
        m.put("P11GenerateSymKeyX", () -> (int) c.P11GenerateSymKeyX(v, "never", 38, 0));
        m.put("P11GetObjectListX", () -> (int) c.P11GetObjectListX(v, 0));
        m.put("XP11CloseSessionX", () -> c.XP11CloseSessionX(v));
        return m;
    }

    /** Each native refuses v with 5005 and returns nothing of its own. */
    private static void allRefuse(String what, WKP11Crypt c, Map<String, IntSupplier> natives) {
        for (Map.Entry<String, IntSupplier> n : natives.entrySet()) {
            c.ErrorCode = -1;
            int returned = n.getValue().getAsInt();
            assertEquals(what + ": " + n.getKey(), BAD_ARGUMENT, c.ErrorCode);
            // The code itself, where the native returns it, or nothing.
            assertTrue(what + ": " + n.getKey() + " returned " + returned,
                       returned == 0 || returned == BAD_ARGUMENT);
        }
    }

    /** The natives that leave the session to the token layer answer v as they answer 0. */
    private static void asForNone(String what, WKP11Crypt c, long v) throws Exception {
        String pem = text("user.pem"), p7 = text("signed.p7.pem");
        byte[] pfx = read("user.p12");
        Map<String, LongFunction<Integer>> natives = new LinkedHashMap<>();
        natives.put("P11WriteX509CertX", s -> c.P11WriteX509CertX(s, pem, "never", "01", 0));
        natives.put("P11WriteP7CertX", s -> c.P11WriteP7CertX(s, p7, "never", "01", 0));
        natives.put("P11Crypt_WritePFXX", s -> c.P11Crypt_WritePFXX(s, pfx, "secret", "never", "01", 0));
        natives.put("P11DeleteObjectX", s -> c.P11DeleteObjectX(s, "never", 17, 0, 0));
        for (Map.Entry<String, LongFunction<Integer>> n : natives.entrySet()) {
            int none = n.getValue().apply(0);
            assertNotEquals(n.getKey() + " with no session", OK, none);
            assertEquals(what + ": " + n.getKey(), none, (int) n.getValue().apply(v));
            assertEquals(none, c.ErrorCode);
        }
    }

    /** The held list's labels: the list still reads as it did. */
    private static String labels(WKP11Crypt c) {
        StringBuilder s = new StringBuilder();
        for (int i = 0; i < c.ObjectListCount; i++) s.append(c.XP11GetObjectListLabelX(0, c.pObjectListArray, i));
        assertEquals(OK, c.ErrorCode);
        return s.toString();
    }

    /** The session, its context and the certificate still do what they did. */
    private static void stillWhole(WKP11Crypt c, TokenPeer t, long cert) {
        assertNotNull(c.XP11GetTokenSNX(t.context));
        assertEquals(16, c.P11GetRandomNumberX(t.session, 16).length);
        assertNotNull(c.XCertGetSubjectX(cert, 0));
        assertEquals(OK, c.ErrorCode);
    }

    /** The natives that store no code. */
    private static final Set<String> STORE_NOTHING = new HashSet<>(Arrays.asList("XFreeHandleX"));

    private static Object emptyOf(Class<?> type, long value) {
        if (type == long.class) return value;
        if (type == int.class) return 0;
        if (type == boolean.class) return false;
        if (type == byte[].class) return new byte[16];
        if (type == String.class) return "";
        return null;
    }

    private static long peakResidentKiB() throws Exception {
        for (String line : Files.readAllLines(Paths.get("/proc/self/status")))
            if (line.startsWith("VmHWM:")) return Long.parseLong(line.replaceAll("[^0-9]", ""));
        throw new AssertionError("no VmHWM line");
    }

    static {
        add("a code returned in place of a key, then used as one", c -> {
            long k = c.XGenerateKeyX(3, "pw", null, 1, 0);
            assertEquals(NOT_SUPPORTED, k);
            byte[] out = new byte[64];
            refused("XEncryptInitX", c, () -> c.XEncryptInitX(k, new byte[16]));
            refused("XDecryptInitX", c, () -> c.XDecryptInitX(k, new byte[16]));
            refused("XEncryptUpdateX", c, () -> assertEquals(0, c.XEncryptUpdateX(k, DATA, 0, 4, out, 0)));
            refused("XDecryptFinalX", c, () -> assertEquals(0, c.XDecryptFinalX(k, out, 0)));
            c.XFreeHandleX(k);
        });
        add("small values where a crypto-core handle is wanted", c -> {
            for (long v : SMALL) {
                cryptoNatives("value " + v, c, v);
                c.ErrorCode = 4242;
                c.XFreeHandleX(v);
                assertEquals(4242, c.ErrorCode);
            }
        });
        add("every native with a small value in each long argument", c -> {
            // The other arguments are as empty as their types allow; whatever a native checks
            // first, it neither dies of the value nor succeeds with it.
            int calls = 0;
            for (Method m : WKP11Crypt.class.getDeclaredMethods()) {
                if (!Modifier.isNative(m.getModifiers())) continue;
                Class<?>[] types = m.getParameterTypes();
                for (int slot = 0; slot < types.length; slot++) {
                    if (types[slot] != long.class) continue;
                    for (long v : SMALL) {
                        Object[] args = new Object[types.length];
                        for (int i = 0; i < types.length; i++) args[i] = emptyOf(types[i], i == slot ? v : 0);
                        String what = m.getName() + " with " + v + " as argument " + slot;
                        c.ErrorCode = -1;
                        try {
                            m.invoke(c, args);
                        } catch (InvocationTargetException e) {
                            throw new AssertionError(what + " threw", e.getCause());
                        }
                        calls++;
                        if (STORE_NOTHING.contains(m.getName())) continue;
                        // Releasing no list is the one success.
                        if (!m.getName().equals("XP11ReleaseObjectListX")) assertNotEquals(what, OK, c.ErrorCode);
                        assertNotEquals(what + " stored nothing", -1, c.ErrorCode);
                    }
                }
            }
            assertTrue("natives called: " + calls, calls > 0);
        });
        add("small values where a token context is wanted", c -> {
            for (long v : SMALL) allRefuse("value " + v, c, contextNatives(c, v));
        });
        add("small values where a session is wanted", c -> {
            for (long v : SMALL) {
                allRefuse("value " + v, c, sessionNatives(c, v));
                asForNone("value " + v, c, v);
            }
        });
        add("small values where the object list is wanted", c -> {
            try (TokenPeer t = TokenPeer.user(c)) {
                assertNotEquals(0, c.P11GetObjectListX(t.session, 0));
                String before = labels(c);
                for (long v : SMALL) {
                    c.ErrorCode = -1;
                    assertNull(c.XP11GetObjectListLabelX(0, v, 0));
                    assertEquals("label of " + v, NO_LIST, c.ErrorCode);
                    assertEquals(0, c.XP11GetObjectListObjectTypeX(0, v, 0));
                    assertEquals("kind of " + v, NO_LIST, c.ErrorCode);
                }
                assertEquals(before, labels(c));
                // Released as no list is: nothing freed, the fields cleared.
                assertEquals(OK, c.XP11ReleaseObjectListX(3, 1));
                assertEquals(0, c.pObjectListArray);
            }
        });
        add("small values and other records as the initialisation block", c -> {
            long cert = decode(c, CERTIFICATE, "user.der");
            try (TokenPeer t = TokenPeer.user(c)) {
                for (long v : new long[] {1, 3, 65535, -1, t.session, t.context, cert}) {
                    c.ErrorCode = -1;
                    assertEquals("block " + v, 0, c.XP11InitExX(TokenPeer.MODULE, v));
                    assertEquals("block " + v, BAD_ARGUMENT, c.ErrorCode);
                }
                stillWhole(c, t, cert);
            }
            // The block the binding hands out initialises the module, once the first context let it go.
            long context = c.XP11InitExX(TokenPeer.MODULE, c.XP11SyncMutexX());
            assertEquals(OK, c.ErrorCode);
            assertNotEquals(0, context);
            assertEquals(OK, c.XP11FinalX(context));
        });
        add("a context or a certificate where a session is wanted", c -> {
            try (TokenPeer t = TokenPeer.user(c)) {
                long cert = decode(c, CERTIFICATE, "user.der");
                allRefuse("context", c, sessionNatives(c, t.context));
                allRefuse("certificate", c, sessionNatives(c, cert));
                asForNone("context", c, t.context);
                asForNone("certificate", c, cert);
                stillWhole(c, t, cert);
            }
        });
        add("a session or a certificate where a context is wanted", c -> {
            try (TokenPeer t = TokenPeer.user(c)) {
                long cert = decode(c, CERTIFICATE, "user.der");
                allRefuse("session", c, contextNatives(c, t.session));
                allRefuse("certificate", c, contextNatives(c, cert));
                stillWhole(c, t, cert);
            }
        });
        add("token records where a crypto-core handle is wanted", c -> {
            try (TokenPeer t = TokenPeer.user(c)) {
                long cert = decode(c, CERTIFICATE, "user.der");
                assertNotEquals(0, c.P11GetObjectListX(t.session, 0));
                long list = c.pObjectListArray;
                String before = labels(c);
                long[][] records = {{t.context}, {t.session}, {list}};
                for (long[] r : records) {
                    cryptoNatives("record " + r[0], c, r[0]);
                    c.XFreeHandleX(r[0]);
                }
                assertEquals(before, labels(c));
                stillWhole(c, t, cert);
            }
        });
        add("a certificate handle as the object list", c -> {
            try (TokenPeer t = TokenPeer.user(c)) {
                long cert = decode(c, CERTIFICATE, "user.der");
                assertNotEquals(0, c.P11GetObjectListX(t.session, 0));
                String before = labels(c);
                for (long v : new long[] {cert, t.session, t.context}) {
                    c.ErrorCode = -1;
                    assertNull(c.XP11GetObjectListLabelX(0, v, 0));
                    assertEquals(NO_LIST, c.ErrorCode);
                    assertEquals(0, c.XP11GetObjectListObjectTypeX(0, v, 0));
                    assertEquals(NO_LIST, c.ErrorCode);
                }
                assertEquals(before, labels(c));
                // Nothing of the certificate is released as a list.
                assertEquals(OK, c.XP11ReleaseObjectListX(cert, 1));
                assertEquals(0, c.ObjectListCount);
                stillWhole(c, t, cert);
            }
        });
        add("a random length the JVM cannot hold", c -> {
            try (TokenPeer t = TokenPeer.user(c)) {
                c.ErrorCode = -1;
                try {
                    c.P11GetRandomNumberX(t.session, Integer.MAX_VALUE);
                    fail("no array of Integer.MAX_VALUE bytes fits a JVM");
                } catch (OutOfMemoryError expected) {
                    // The JVM's own error, raised by the array it could not make.
                }
                assertEquals(MEMORY, c.ErrorCode);
                // Nothing sized by the length was allocated, let alone filled by the token.
                long peak = peakResidentKiB();
                assertTrue("peak resident " + peak + " KiB", peak < 1024 * 1024);
                byte[] some = c.P11GetRandomNumberX(t.session, 16);
                assertEquals(OK, c.ErrorCode);
                assertEquals(16, some.length);
                assertArrayEquals(new byte[0], c.P11GetRandomNumberX(t.session, 0));
            }
        });
    }

    private HandleCases() {}

    /** Runs the case named by the arguments; the status says whether it held. */
    public static void main(String[] args) {
        Case body = CASES.get(String.join(" ", args));
        if (body == null) {
            System.out.println("no case named " + String.join(" ", args));
            System.exit(2);
        }
        try {
            body.run(new WKP11Crypt());
        } catch (Throwable t) {
            t.printStackTrace(System.out);
            System.exit(1);
        }
        System.out.println(PASSED + String.join(" ", args));
        System.exit(0);
    }
}
