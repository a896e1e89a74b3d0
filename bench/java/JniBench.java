import com.vandrelot.crypto.WKP11Crypt;

/** The Java side of the binding bench: nanoseconds per native call after warm-up. */
public final class JniBench {
    private static final WKP11Crypt C = new WKP11Crypt();
    private static long sink;

    private JniBench() {}

    public static void load(String library) {
        System.load(library);
    }

    private interface Call {
        void run();
    }

    private static double time(Call call, int n) {
        for (int i = 0; i < n; i++) call.run(); // warm-up: the JIT compiles the loop
        long start = System.nanoTime();
        for (int i = 0; i < n; i++) call.run();
        return (System.nanoTime() - start) / (double) n;
    }

    public static double hashed(long key, int n) {
        return time(() -> sink += C.XPublicKeyHashedX(key).length, n);
    }

    public static double encode(int n) {
        byte[] data = new byte[64];
        return time(() -> sink += C.Encode(data, null).length(), n);
    }

    public static double sign(long cert, long key, int n) {
        byte[] data = new byte[1024];
        return time(() -> {
            long p7 = C.XPKCS7SignX(cert, key, 0, data, 0x4000, 4);
            C.XFreeHandleX(p7);
            sink += p7;
        }, n);
    }

    public static double subject(long cert, int n) {
        return time(() -> sink += C.XCertGetSubjectX(cert, 0).length(), n);
    }

    public static double digest(long cert, int n) {
        return time(() -> sink += C.XCertGetDigestX(cert, 4).length, n);
    }

    /** Re-signs the certificate with SHA-256. */
    public static double signObject(long cert, long key, int n) {
        return time(() -> sink += C.XSignObjectX(cert, key, 4), n);
    }
}
