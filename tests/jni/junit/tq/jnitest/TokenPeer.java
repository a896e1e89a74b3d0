package tq.jnitest;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;

import java.io.ByteArrayOutputStream;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

import com.vandrelot.crypto.WKP11Crypt;

/**
 * A session from Java on the token the runner made, and pkcs11-tool as the peer that writes and reads the
 * same token.
 */
public final class TokenPeer implements AutoCloseable {
    public static final String PIN = "123456";
    public static final int SLOT_NOT_FOUND = 9112, OBJECT_NOT_EXIST = 9100, OBJECT_EXIST = 9101;
    /** The run's SoftHSM2 module. */
    public static final String MODULE = System.getenv("TQ_P11_MODULE");

    private final WKP11Crypt c;
    public final long context, session;

    private TokenPeer(WKP11Crypt c, long context, long session) {
        this.c = c;
        this.context = context;
        this.session = session;
    }

    /** Makes the slot of the runner's token the context's current slot. */
    public static void selectSlot(WKP11Crypt c, long context) {
        String wanted = System.getenv("TQ_P11_SERIAL").trim();
        int slot = -1;
        for (int i = 0; c.XP11SetCurrentSlotX(context, i) != SLOT_NOT_FOUND; i++) {
            String serial = c.XP11GetTokenSNX(context);
            if (serial != null && wanted.equals(serial.trim())) slot = i;
        }
        assertNotEquals("no slot shows " + wanted, -1, slot);
        assertEquals(Peer.OK, c.XP11SetCurrentSlotX(context, slot));
    }

    /** The module initialised, the runner's token selected and a session opened on it; nobody logged in. */
    public static TokenPeer open(WKP11Crypt c, String module) {
        long context = c.XP11InitX(module);
        assertEquals(module, Peer.OK, c.ErrorCode);
        selectSlot(c, context);
        long session = c.XP11OpenSessionX(context);
        assertEquals(Peer.OK, c.ErrorCode);
        return new TokenPeer(c, context, session);
    }

    /** The same on the run's module, with the user logged in. */
    public static TokenPeer user(WKP11Crypt c) {
        TokenPeer t = open(c, MODULE);
        assertEquals(Peer.OK, c.XP11LoginX(t.session, PIN));
        return t;
    }

    @Override
    public void close() {
        // Logged in or not, the session ends.
        c.XP11LogoutX(session);
        assertEquals(Peer.OK, c.XP11CloseSessionX(session));
        assertEquals(Peer.OK, c.XP11FinalX(context));
    }

    private static Peer.Result exec(List<String> argv, boolean withErrors) throws Exception {
        ProcessBuilder b = new ProcessBuilder(argv);
        if (withErrors)
            b.redirectErrorStream(true);
        else
            b.redirectError(ProcessBuilder.Redirect.DISCARD);
        Process p = b.start();
        p.getOutputStream().close();
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        try (InputStream s = p.getInputStream()) {
            s.transferTo(out);
        }
        return new Peer.Result(p.waitFor(), out.toByteArray());
    }

    private static List<String> toolArgv(String... args) {
        List<String> argv = new ArrayList<>(Arrays.asList("timeout", "120", System.getenv("TQ_PKCS11_TOOL"),
                                                          "--module", MODULE, "--token-label", "tqjava",
                                                          "--login", "--pin", PIN));
        argv.addAll(Arrays.asList(args));
        return argv;
    }

    /** pkcs11-tool on the token, logged in as the user: its status and standard output. */
    public static Peer.Result tool(String... args) throws Exception {
        return exec(toolArgv(args), false);
    }

    /** The same where it must succeed: its output, errors included, as text. */
    public static String toolOk(String... args) throws Exception {
        Peer.Result r = exec(toolArgv(args), true);
        String text = new String(r.out, StandardCharsets.UTF_8);
        assertEquals("pkcs11-tool " + String.join(" ", args) + ": " + text, 0, r.status);
        return text;
    }

    /** Labels of the token's objects as pkcs11-tool -O prints them. */
    public static List<String> listedLabels() throws Exception {
        List<String> labels = new ArrayList<>();
        for (String line : toolOk("-O").split("\n")) {
            line = line.trim();
            if (line.startsWith("label:")) labels.add(line.substring("label:".length()).trim());
        }
        return labels;
    }

    /** The same with a label given as printf escapes, so that any byte reaches the token. */
    public static Peer.Result toolLabelled(String labelEscapes, String... args) throws Exception {
        List<String> argv = new ArrayList<>(Arrays.asList("sh", "-c", "l=$(printf \"$0\") && exec \"$@\" --label \"$l\"",
                                                          labelEscapes));
        argv.addAll(toolArgv(args));
        return exec(argv, false);
    }

    /** The DER of an object as pkcs11-tool reads it, chosen by --label or --id. */
    public static byte[] readObject(String type, String by, String value) throws Exception {
        Path out = Peer.temp(new byte[0]);
        Peer.Result r = tool("--read-object", "--type", type, by, value, "-o", out.toString());
        assertEquals("pkcs11-tool reads the " + type + " " + by + " " + value, 0, r.status);
        return Files.readAllBytes(out);
    }

    /** One object as pkcs11-tool -O shows it: its heading line, label and ID (lower-case hex). */
    public static final class Listed {
        public final String heading;
        public String label = "", id = "";

        Listed(String heading) {
            this.heading = heading;
        }
    }

    private static final Pattern HEADING =
        Pattern.compile("^(Data object|Certificate Object|Public Key Object|Private Key Object|Secret Key Object).*");
    private static final Pattern LABEL = Pattern.compile("^\\s+label:\\s+(.*)$");
    private static final Pattern ID = Pattern.compile("^\\s+ID:\\s+([0-9a-fA-F]+)\\s*$");

    /** Every token object as pkcs11-tool lists it; the label bytes read as UTF-8. */
    public static List<Listed> listed() throws Exception {
        Peer.Result r = tool("-O");
        assertEquals(0, r.status);
        List<Listed> objects = new ArrayList<>();
        for (String line : new String(r.out, StandardCharsets.UTF_8).split("\n")) {
            if (HEADING.matcher(line).matches()) {
                objects.add(new Listed(line));
                continue;
            }
            if (objects.isEmpty()) continue;
            Listed last = objects.get(objects.size() - 1);
            Matcher m = LABEL.matcher(line);
            if (m.matches()) {
                String label = m.group(1);
                // Data objects show their label in quotes.
                if (last.heading.startsWith("Data") && label.length() >= 2 && label.startsWith("'") &&
                    label.endsWith("'"))
                    label = label.substring(1, label.length() - 1);
                last.label = label;
            }
            m = ID.matcher(line);
            if (m.matches()) last.id = m.group(1).toLowerCase();
        }
        return objects;
    }

    /** The object pkcs11-tool lists under that heading start and label; the test fails without one. */
    public static Listed find(String headingStart, String label) throws Exception {
        for (Listed o : listed())
            if (o.heading.startsWith(headingStart) && o.label.equals(label)) return o;
        throw new AssertionError("pkcs11-tool lists no " + headingStart + " labelled " + label);
    }
}
