package tq.jnitest;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;
import static tq.jnitest.TokenPeer.*;

import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Collections;
import java.util.List;

import org.junit.BeforeClass;
import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

/** The token's object list held in the calling object, against what pkcs11-tool lists on the same token. */
public class TokenObjectListTest {
    static {
        Peer.load();
    }

    private static final int TOKEN_BUFFER_TOO_SMALL = 9075;

    // The label bytes (printf escapes), the object pkcs11-tool makes with it, the label Java must see.
    private static final String[][] LABELS = {
        {"key \\360\\237\\224\\221 outside the BMP", "data", "key \uD83D\uDD11 outside the BMP"},
        {"byte \\377 not UTF-8", "aes", "byte \uFFFD not UTF-8"},
        {"overlong \\300\\200 NUL", "data", "overlong \uFFFD\uFFFD NUL"},
        {"half \\355\\240\\200 surrogate", "data", "half \uFFFD\uFFFD\uFFFD surrogate"},
        {"\\303\\251t\\303\\251 in the BMP", "aes", "\u00e9t\u00e9 in the BMP"},
    };

    private final WKP11Crypt c = new WKP11Crypt();

    private static void write(String labelEscapes, String what) throws Exception {
        Result r = what.equals("aes")
                       ? toolLabelled(labelEscapes, "--keygen", "--key-type", "AES:16")
                       : toolLabelled(labelEscapes, "--write-object", temp(new byte[] {1, 2, 3}).toString(),
                                      "--type", "data");
        assertEquals("pkcs11-tool writes " + labelEscapes, 0, r.status);
    }

    // A public data object whose CKA_LABEL is exactly the given bytes, straight through the module: the
    // token's tools take labels from the command line, where no NUL fits.
    private static final String EXACT_LABEL = """
            import ctypes, sys
            lib = ctypes.CDLL(sys.argv[1])
            U = ctypes.c_ulong
            class Attr(ctypes.Structure):
                _fields_ = [("type", U), ("value", ctypes.c_void_p), ("length", U)]
            def ok(rv):
                if rv:
                    sys.exit("CK_RV 0x%x" % rv)
            ok(lib.C_Initialize(None))
            slots, n = (U * 64)(), U(64)
            ok(lib.C_GetSlotList(ctypes.c_ubyte(1), slots, ctypes.byref(n)))
            info = ctypes.create_string_buffer(512)
            slot = next(s for s in slots[:n.value] if lib.C_GetTokenInfo(U(s), info) == 0 and info.raw[:32].rstrip() == sys.argv[2].encode())
            session = U()
            ok(lib.C_OpenSession(U(slot), U(6), None, None, ctypes.byref(session)))
            pin = sys.argv[3].encode()
            ok(lib.C_Login(session, U(1), pin, U(len(pin))))
            label, value, cls, true, false = bytes.fromhex(sys.argv[4]), b"x", U(0), ctypes.c_ubyte(1), ctypes.c_ubyte(0)
            parts = [(0, ctypes.byref(cls), ctypes.sizeof(cls)), (1, ctypes.byref(true), 1),
                     (2, ctypes.byref(false), 1), (3, ctypes.c_char_p(label), len(label)), (0x11, ctypes.c_char_p(value), len(value))]
            template = (Attr * len(parts))(*[Attr(t, ctypes.cast(p, ctypes.c_void_p), l) for t, p, l in parts])
            made = U()
            ok(lib.C_CreateObject(session, template, U(len(parts)), ctypes.byref(made)))
            ok(lib.C_Logout(session))
            ok(lib.C_CloseSession(session))
            ok(lib.C_Finalize(None))
            """;

    private static void writeExactLabel(byte[] label) throws Exception {
        Process p = new ProcessBuilder("timeout", "60", "python3", "-c", EXACT_LABEL, System.getenv("TQ_P11_MODULE"),
                                       "tqjava", PIN, hex(label))
                        .redirectErrorStream(true)
                        .start();
        String out = new String(p.getInputStream().readAllBytes(), StandardCharsets.UTF_8);
        assertEquals(out, 0, p.waitFor());
    }

    @BeforeClass
    public static void tokenObjects() throws Exception {
        for (String[] l : LABELS) write(l[0], l[1]);
        // A label stored with its terminating NUL counted, as some writers do.
        writeExactLabel("counted NUL\0".getBytes(StandardCharsets.US_ASCII));
        assertEquals(0, tool("--write-object", fixture("user.der").toString(), "--type", "cert", "--label",
                             "tool cert", "--id", "c0")
                            .status);
    }

    /** The kind the token layer gives an object pkcs11-tool lists under that heading. */
    private static int kindOf(String heading) {
        if (heading.startsWith("Data object")) return 16;
        if (heading.startsWith("Certificate Object")) return 17;
        if (heading.startsWith("Public Key Object; RSA")) return 18;
        if (heading.startsWith("Private Key Object; RSA")) return 19;
        return 0;
    }

    /** Kind and label of each entry of the held list, read through the natives. */
    private List<String> entries() {
        long list = c.pObjectListArray;
        List<String> out = new ArrayList<>();
        for (int i = 0; i < c.ObjectListCount; i++) {
            String label = c.XP11GetObjectListLabelX(0, list, i);
            assertEquals(OK, c.ErrorCode);
            int kind = c.XP11GetObjectListObjectTypeX(0, list, i);
            // An object the table gives no kind is an entry all the same.
            assertEquals(label, kind == 0 ? OBJECT_NOT_EXIST : OK, c.ErrorCode);
            out.add(kind + " " + label);
        }
        Collections.sort(out);
        return out;
    }

    // How many replacement characters a bad sequence becomes is each decoder's own choice.
    private static List<String> comparable(List<String> entries) {
        List<String> out = new ArrayList<>();
        for (String e : entries) out.add(e.replaceAll("\uFFFD+", "\uFFFD"));
        Collections.sort(out);
        return out;
    }

    private static List<String> toolEntries() throws Exception {
        List<String> out = new ArrayList<>();
        for (Listed o : listed()) out.add(kindOf(o.heading) + " " + o.label);
        return comparable(out);
    }

    @Test
    public void listIsWhatTheTokensToolLists() throws Exception {
        try (TokenPeer t = TokenPeer.user(c)) {
            long count = c.P11GetObjectListX(t.session, 0);
            assertEquals(OK, c.ErrorCode);
            assertEquals(count, c.ObjectListCount);
            assertNotEquals(0, c.pObjectListArray);
            List<String> ours = entries();
            assertEquals(toolEntries(), comparable(ours));
            for (String[] l : LABELS)
                assertTrue(l[2], ours.contains((l[1].equals("aes") ? "0 " : "16 ") + l[2]));
            assertTrue(ours.contains("16 counted NUL"));
            assertTrue(ours.contains("17 tool cert"));
            assertTrue(ours.contains("18 userkey"));
            assertTrue(ours.contains("19 userkey"));

            assertEquals(OK, c.XP11ReleaseObjectListX(c.pObjectListArray, c.ObjectListCount));
            assertEquals(OK, c.ErrorCode);
            assertEquals(0, c.pObjectListArray);
            assertEquals(0, c.ObjectListCount);
        }
    }

    @Test
    public void indexOutsideTheListReadsNothing() throws Exception {
        try (TokenPeer t = TokenPeer.user(c)) {
            int count = (int) c.P11GetObjectListX(t.session, 0);
            assertEquals(OK, c.ErrorCode);
            long list = c.pObjectListArray;
            assertTrue(count > 2);
            for (int index : new int[] {-1, count, count + 1, Integer.MAX_VALUE, Integer.MIN_VALUE}) {
                c.ErrorCode = -1;
                assertNull(c.XP11GetObjectListLabelX(0, list, index));
                assertEquals("label " + index, BAD_ARGUMENT, c.ErrorCode);
                c.ErrorCode = -1;
                assertEquals(0, c.XP11GetObjectListObjectTypeX(0, list, index));
                assertEquals("kind " + index, BAD_ARGUMENT, c.ErrorCode);
            }
            // The last entry is inside.
            assertNotEquals(null, c.XP11GetObjectListLabelX(0, list, count - 1));
            assertEquals(OK, c.ErrorCode);
            // No list at all.
            assertNull(c.XP11GetObjectListLabelX(0, 0, 0));
            assertEquals(OBJECT_NOT_EXIST, c.ErrorCode);
            c.ErrorCode = -1;
            assertEquals(0, c.XP11GetObjectListObjectTypeX(0, 0, 0));
            assertEquals(OBJECT_NOT_EXIST, c.ErrorCode);

            // A released list is out of reach: the calling object holds no entries any more.
            assertEquals(OK, c.XP11ReleaseObjectListX(list, count));
            assertNull(c.XP11GetObjectListLabelX(0, list, 0));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
            assertEquals(0, c.XP11GetObjectListObjectTypeX(0, list, 0));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
        }
    }

    @Test
    public void aSecondListingReplacesTheFirst() throws Exception {
        try (TokenPeer t = TokenPeer.user(c)) {
            long first = c.P11GetObjectListX(t.session, 0);
            assertEquals(OK, c.ErrorCode);
            write("added later", "data");
            long second = c.P11GetObjectListX(t.session, 0);
            assertEquals(OK, c.ErrorCode);
            assertEquals(first + 1, second);
            assertEquals(second, c.ObjectListCount);
            assertTrue(entries().contains("16 added later"));
            assertEquals(toolEntries(), comparable(entries()));

            // A listing that fails leaves no list behind: a label longer than the record's field.
            String longLabel = "L".repeat(300);
            write(longLabel, "data");
            try {
                assertEquals(0, c.P11GetObjectListX(t.session, 0));
                assertEquals(TOKEN_BUFFER_TOO_SMALL, c.ErrorCode);
                assertEquals(0, c.ObjectListCount);
                assertEquals(0, c.pObjectListArray);
            } finally {
                assertEquals(0, tool("--delete-object", "--type", "data", "--label", longLabel).status);
            }

            // A session of 0 lists nothing and keeps the held list.
            long count = c.P11GetObjectListX(t.session, 0);
            long list = c.pObjectListArray;
            assertEquals(0, c.P11GetObjectListX(0, 0));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
            assertEquals(list, c.pObjectListArray);
            assertEquals(count, c.ObjectListCount);
            assertEquals(toolEntries(), comparable(entries()));

            // The held list goes with the count it was made with, whatever count Java passes.
            assertEquals(OK, c.XP11ReleaseObjectListX(list, (int) count + 5));
            assertEquals(OK, c.ErrorCode);
            assertEquals(0, c.pObjectListArray);
            assertEquals(0, c.ObjectListCount);
            c.P11GetObjectListX(t.session, 0);
            assertEquals(OK, c.ErrorCode);
            assertEquals(OK, c.XP11ReleaseObjectListX(c.pObjectListArray, 0));
            assertEquals(0, c.ObjectListCount);
            // Nothing held: nothing to release; a count below 0 is refused.
            assertEquals(OK, c.XP11ReleaseObjectListX(0, 0));
            assertEquals(BAD_ARGUMENT, c.XP11ReleaseObjectListX(0, -1));
        }
    }
}
