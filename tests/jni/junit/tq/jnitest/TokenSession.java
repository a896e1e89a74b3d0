package tq.jnitest;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;

import java.io.ByteArrayOutputStream;
import java.io.InputStream;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;

import com.vandrelot.crypto.WKP11Crypt;

/** A module loaded from Java on the slot of the run's token, with one session open on it; and pkcs11-tool. */
final class TokenSession implements AutoCloseable {
    static final String PIN = "123456";
    static final int SLOT_NOT_FOUND = 9112;

    final WKP11Crypt c;
    final long context;
    final long session;

    private TokenSession(WKP11Crypt c, long context, long session) {
        this.c = c;
        this.context = context;
        this.session = session;
    }

    /** The run's SoftHSM2 module. */
    static String softModule() {
        return System.getenv("TQ_P11_MODULE");
    }

    static TokenSession open(WKP11Crypt c, String module) {
        long context = c.XP11InitX(module);
        assertEquals(module, Peer.OK, c.ErrorCode);
        String wanted = System.getenv("TQ_P11_SERIAL").trim();
        int found = -1;
        for (int i = 0; c.XP11SetCurrentSlotX(context, i) != SLOT_NOT_FOUND; i++) {
            String serial = c.XP11GetTokenSNX(context);
            if (serial != null && serial.trim().equals(wanted)) found = i;
        }
        assertNotEquals("no slot shows " + wanted, -1, found);
        assertEquals(Peer.OK, c.XP11SetCurrentSlotX(context, found));
        long session = c.XP11OpenSessionX(context);
        assertEquals(Peer.OK, c.ErrorCode);
        return new TokenSession(c, context, session);
    }

    @Override
    public void close() {
        // Logged out or not, the session ends.
        c.XP11LogoutX(session);
        assertEquals(Peer.OK, c.XP11CloseSessionX(session));
        assertEquals(Peer.OK, c.XP11FinalX(context));
    }

    /** pkcs11-tool on the run's token, logged in as the user; it must succeed. Its output. */
    static String tool(String... args) throws Exception {
        List<String> argv = new ArrayList<>(Arrays.asList("timeout", "60", System.getenv("TQ_PKCS11_TOOL"),
                                                          "--module", softModule(), "--token-label", "tqjava",
                                                          "--login", "--pin", PIN));
        argv.addAll(Arrays.asList(args));
        Process p = new ProcessBuilder(argv).redirectErrorStream(true).start();
        p.getOutputStream().close();
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        try (InputStream s = p.getInputStream()) {
            s.transferTo(out);
        }
        String text = out.toString("UTF-8");
        assertEquals("pkcs11-tool " + String.join(" ", args) + ": " + text, 0, p.waitFor());
        return text;
    }

    /** Labels of the token's objects as pkcs11-tool -O lists them. */
    static List<String> listedLabels() throws Exception {
        List<String> labels = new ArrayList<>();
        for (String line : tool("-O").split("\n")) {
            line = line.trim();
            if (line.startsWith("label:")) labels.add(line.substring("label:".length()).trim());
        }
        return labels;
    }
}
