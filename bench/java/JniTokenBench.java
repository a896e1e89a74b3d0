import com.vandrelot.crypto.WKP11Crypt;

/** The Java side of the token bench: detached PKCS#7 with a token key, nanoseconds per message. */
public final class JniTokenBench {
    private static final WKP11Crypt C = new WKP11Crypt();
    private static long sink;

    private JniTokenBench() {}

    public static void load(String library) {
        System.load(library);
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
