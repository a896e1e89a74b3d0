package tq.jnitest;

import static org.junit.Assert.assertEquals;

import java.io.ByteArrayOutputStream;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import com.vandrelot.crypto.WKP11Crypt;

/** The library under test, the openssl fixtures and the openssl tool as the peer. */
public final class Peer {
    static {
        System.load(System.getProperty("tq.library"));
    }

    public static final int OK = 0;
    public static final int BUFFER_TOO_SMALL = 5003;
    public static final int NOT_SUPPORTED = 5004;
    public static final int BAD_ARGUMENT = 5005;
    public static final int WRONG_HANDLE = 5006;
    public static final int DECRYPT_FAILED = 5064;
    public static final int BAD_PKCS12 = 5046;
    public static final int P12_BAD_MAC = 5071;
    public static final int P12_NO_ITEM = 5101;

    public static final int CERTIFICATE = 1, CERTREQUEST = 2, CRL = 3, PKCS7 = 4, SIGNERINFO = 5,
                            PRIVATEKEY = 6, PUBLICKEY = 7, PKCS12 = 11, PKCS8 = 12, PKCS8INFO = 13;
    public static final int ENCODE_TEXT = 0x1000, DECODE_TEXT = 0x2000;

    private Peer() {}

    /** Loads the library (the class's initialisation does). */
    public static void load() {}

    /** The DER inside a PEM file, as openssl reads it. */
    public static byte[] derOfPem(String name) throws Exception {
        java.nio.file.Path out = temp(new byte[0]);
        openssl(null, "asn1parse", "-in", fixture(name).toString(), "-out", out.toString(), "-noout");
        return Files.readAllBytes(out);
    }

    public static Path fixture(String name) {
        return Paths.get(System.getenv("TQ_FIXTURES"), "objects", name);
    }

    public static byte[] read(String name) throws IOException {
        return Files.readAllBytes(fixture(name));
    }

    public static String text(String name) throws IOException {
        return new String(read(name), StandardCharsets.US_ASCII);
    }

    public static Path temp(byte[] content) throws IOException {
        Path p = Files.createTempFile("tqjni", ".bin");
        p.toFile().deleteOnExit();
        Files.write(p, content);
        return p;
    }

    public static final class Result {
        public final int status;
        public final byte[] out;

        Result(int status, byte[] out) {
            this.status = status;
            this.out = out;
        }

        public String text() {
            return new String(out, StandardCharsets.UTF_8);
        }
    }

    /** Runs the openssl tool, bounded in time, with the input on its standard input. */
    public static Result run(byte[] input, String... args) throws Exception {
        List<String> argv = new ArrayList<>();
        argv.add("timeout");
        argv.add("60");
        argv.add("openssl");
        argv.addAll(Arrays.asList(args));
        Process p = new ProcessBuilder(argv).redirectError(ProcessBuilder.Redirect.DISCARD).start();
        try (OutputStream in = p.getOutputStream()) {
            if (input != null) in.write(input);
        }
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        try (InputStream s = p.getInputStream()) {
            s.transferTo(out);
        }
        return new Result(p.waitFor(), out.toByteArray());
    }

    /** The tool's output; the tool must succeed. */
    public static byte[] openssl(byte[] input, String... args) throws Exception {
        Result r = run(input, args);
        assertEquals("openssl " + String.join(" ", args), 0, r.status);
        return r.out;
    }

    public static String hex(byte[] b) {
        StringBuilder s = new StringBuilder();
        for (byte x : b) s.append(String.format("%02x", x & 0xff));
        return s.toString();
    }

    public static byte[] unhex(String s) {
        s = s.replaceAll("[^0-9A-Fa-f]", "");
        byte[] b = new byte[s.length() / 2];
        for (int i = 0; i < b.length; i++) b[i] = (byte) Integer.parseInt(s.substring(2 * i, 2 * i + 2), 16);
        return b;
    }

    /** A handle decoded from a fixture; the test must succeed in decoding it. */
    public static long decode(WKP11Crypt c, int kind, String name) throws IOException {
        long h = c.XDecodeObjectX(kind, read(name), 0);
        assertEquals(name, OK, c.ErrorCode);
        return h;
    }
}
