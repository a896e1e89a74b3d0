package tq.jnitest;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;
import static tq.jnitest.TokenPeer.*;

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

    @BeforeClass
    public static void tokenObjects() throws Exception {
        for (String[] l : LABELS) write(l[0], l[1]);
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
        try (TokenPeer t = new TokenPeer(c)) {
            long count = c.P11GetObjectListX(t.session, 0);
            assertEquals(OK, c.ErrorCode);
            assertEquals(count, c.ObjectListCount);
            assertNotEquals(0, c.pObjectListArray);
            List<String> ours = entries();
            assertEquals(toolEntries(), comparable(ours));
            for (String[] l : LABELS)
                assertTrue(l[2], ours.contains((l[1].equals("aes") ? "0 " : "16 ") + l[2]));
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
        try (TokenPeer t = new TokenPeer(c)) {
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
        try (TokenPeer t = new TokenPeer(c)) {
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
