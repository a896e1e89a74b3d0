import com.vandrelot.crypto.WKP11Crypt;

/** The Java side of the token bench: detached PKCS#7 with a token key, nanoseconds per message. */
public final class JniTokenBench {
    private static final WKP11Crypt C = new WKP11Crypt();
    private static long sink;
    private static long context;
    private static long session;

    private JniTokenBench() {}

    public static void load(String library) {
        System.load(library);
    }

    /** A session of the binding's own on the module, logged in; 0 when a native failed (its code in ErrorCode). */
    public static long open(String module, String pin) {
        context = C.XP11InitX(module);
        if (C.ErrorCode != 0) return 0;
        session = C.XP11OpenSessionX(context);
        if (C.ErrorCode != 0) return 0;
        return C.XP11LoginX(session, pin) == 0 ? session : 0;
    }

    public static void close() {
        C.XP11LogoutX(session);
        C.XP11CloseSessionX(session);
        C.XP11FinalX(context);
    }

    /** The key taken from the token once; warm-up calls first, then n timed ones. Negative: a native failed. */
    public static double sign(long session, String label, long cert, int warmUp, int n) {
        long key = C.XP11CryptGetPrivateKeyX(session, label, 0);
        if (C.ErrorCode != 0) return -C.ErrorCode;
        byte[] data = new byte[1024];
        java.util.Arrays.fill(data, (byte) 0x5a);
        int failed = 0;
        for (int i = 0; i < warmUp; i++) {
            long p7 = C.XPKCS7SignX(cert, key, 0, data, 0x4000, 4);
            failed |= C.ErrorCode;
            C.XFreeHandleX(p7);
        }
        long start = System.nanoTime();
        for (int i = 0; i < n; i++) {
            long p7 = C.XPKCS7SignX(cert, key, 0, data, 0x4000, 4);
            failed |= C.ErrorCode;
            C.XFreeHandleX(p7);
            sink += p7;
        }
        double nanos = (System.nanoTime() - start) / (double) n;
        C.XFreeHandleX(key);
        return failed != 0 ? -failed : nanos;
    }
}
