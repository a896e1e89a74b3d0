package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNotNull;
import static org.junit.Assert.assertNull;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;

import java.io.ByteArrayOutputStream;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Base64;
import java.util.List;
import java.util.regex.Pattern;
import java.util.function.Supplier;
import java.util.function.ToIntFunction;

import org.junit.After;
import org.junit.Before;
import org.junit.BeforeClass;
import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

/** Signing, decryption, data objects, secret-key values and random bytes with a SoftHSM2 token. */
public class TokenCryptTest {
    static {
        Peer.load();
    }

    private static final int FUNCTION_NOT_SUPPORTED = 9023, KEY_NOT_FOUND = 9100, OBJECT_EXIST = 9101,
                             SLOT_NOT_FOUND = 9112, BAD_BASE64 = 5008;
    private static final int BY_CKA_ID = 0x1000000, DETACHED = 0x4000, SIGN_CHAIN = 0x200, SHA256 = 4;
    private static final int KIND_DATA = 16, KIND_DES = 20, KIND_DES2 = 21, KIND_DES3 = 36, KIND_AES = 38;
    private static final int SENSITIVE = 0x4000, EXTRACTABLE = 0x8000;

    private final WKP11Crypt c = new WKP11Crypt();
    private final byte[] data = "signed on the token\r\n\0 and binary \u00ff".getBytes(StandardCharsets.ISO_8859_1);
    private TokenPeer peer;
    private long context, session;

    /** The value pkcs11-tool reads from the object of that type and label. */
    private static byte[] toolRead(String type, String label) throws Exception {
        Path out = temp(new byte[0]);
        Result r = TokenPeer.tool("--read-object", "--type", type, "--label", label,
                        "--output-file", out.toString());
        assertEquals("pkcs11-tool reads " + label, 0, r.status);
        return Files.readAllBytes(out);
    }

    /** The token layer signs with the key and the certificate of one label and CKA_ID. */
    @BeforeClass
    public static void certificateNextToTheKey() throws Exception {
        assertEquals(0, TokenPeer.tool("--write-object", fixture("user.der").toString(), "--type",
                             "cert", "--label", "userkey", "--id", "a1b2")
                            .status);
    }

    @Before
    public void open() {
        peer = TokenPeer.user(c);
        context = peer.context;
        session = peer.session;
    }

    @After
    public void close() {
        peer.close();
    }

    /** openssl's status verifying a Base64 PKCS#7 against the fixture CA; the content goes to out. */
    private int verify(String p7, byte[] detachedContent, Path out) throws Exception {
        assertNotNull(p7);
        byte[] der = Base64.getMimeDecoder().decode(p7);
        List<String> args = new ArrayList<>(Arrays.asList("cms", "-verify", "-binary", "-inform", "DER", "-CAfile",
                                                          fixture("ca.pem").toString(), "-out", out.toString()));
        if (detachedContent != null) args.addAll(Arrays.asList("-content", temp(detachedContent).toString()));
        return run(der, args.toArray(new String[0])).status;
    }

    private interface Signer {
        String sign(long session, String name, long store, byte[] data, int flags, int hashFlags);
    }

    @Test
    public void signsByLabelAndByCkaIdAsOpensslVerifies() throws Exception {
        Path out = temp(new byte[0]);
        Signer[] signers = {c::WKP11SignX, c::P11SignX};
        String[][] names = {{"userkey", "0"}, {"a1b2", Integer.toString(BY_CKA_ID)}};
        for (Signer signer : signers) {
            for (String[] name : names) {
                int by = Integer.parseInt(name[1]);
                String what = name[0];
                String detached = signer.sign(session, name[0], 0, data, by | DETACHED, SHA256);
                assertEquals(what, OK, c.ErrorCode);
                assertEquals(what, 0, verify(detached, data, out));
                byte[] other = data.clone();
                other[0] ^= 1;
                assertNotEquals(what, 0, verify(detached, other, out));

                String attached = signer.sign(session, name[0], 0, data, by, SHA256);
                assertEquals(what, OK, c.ErrorCode);
                assertEquals(what, 0, verify(attached, null, out));
                assertArrayEquals(what, data, Files.readAllBytes(out));
            }
        }
        // The store reaches the signer: with the chain option the issuer goes into the message.
        long store = c.XLoadStoreX(text("ca.pem"), null);
        assertEquals(OK, c.ErrorCode);
        for (int options : new int[] {DETACHED, DETACHED | SIGN_CHAIN}) {
            String p7 = c.P11SignX(session, "userkey", store, data, options, SHA256);
            assertEquals(OK, c.ErrorCode);
            String certs = new String(openssl(Base64.getMimeDecoder().decode(p7), "pkcs7", "-inform", "DER",
                                              "-print_certs", "-noout"),
                                      StandardCharsets.UTF_8);
            assertEquals(certs, options == DETACHED ? 1 : 2, certs.split("subject=", -1).length - 1);
        }
        c.XFreeHandleX(store);
        // A certificate's label that no private key carries.
        assertEquals(0, TokenPeer.tool("--write-object", fixture("ca.der").toString(), "--type", "cert", "--label", "ca only")
                            .status);
        assertNull(c.WKP11SignX(session, "ca only", 0, data, DETACHED, SHA256));
        assertEquals(KEY_NOT_FOUND, c.ErrorCode);
        assertNull(c.P11SignX(session, "ffff", 0, data, BY_CKA_ID, SHA256));
        assertNotEquals(OK, c.ErrorCode);
    }

    @Test
    public void bothNamesGiveTheSameText() {
        // The signing time has seconds: a second boundary between the two calls changes it.
        String first = null, second = null;
        for (int attempt = 0; attempt < 3 && (first == null || !first.equals(second)); attempt++) {
            first = c.WKP11SignX(session, "userkey", 0, data, DETACHED, SHA256);
            assertEquals(OK, c.ErrorCode);
            second = c.P11SignX(session, "userkey", 0, data, DETACHED, SHA256);
            assertEquals(OK, c.ErrorCode);
        }
        assertEquals(first, second);
        assertFalse("Base64 without PEM lines", first.contains("-----"));
    }

    @Test
    public void signsWithTheCertificateGivenAsTextAndSha1() throws Exception {
        Path out = temp(new byte[0]);
        for (String cert : new String[] {text("user.pem"), Base64.getEncoder().encodeToString(read("user.der"))}) {
            String p7 = c.P11SignByCertStringX(session, cert, "userkey", 0, data, DETACHED);
            assertEquals(OK, c.ErrorCode);
            assertEquals(0, verify(p7, data, out));
            String printed = new String(openssl(Base64.getMimeDecoder().decode(p7), "cms", "-cmsout", "-print",
                                                "-inform", "DER"),
                                        StandardCharsets.UTF_8);
            assertTrue(printed, Pattern.compile("digestAlgorithm:\\s+algorithm: sha1 ").matcher(printed).find());
            assertFalse(printed, Pattern.compile("digestAlgorithm:\\s+algorithm: sha2").matcher(printed).find());
        }
        // The certificate of another key than the label's.
        assertNull(c.P11SignByCertStringX(session, text("ca.pem"), "userkey", 0, data, DETACHED));
        assertNotEquals(OK, c.ErrorCode);
        assertNull(c.P11SignByCertStringX(session, text("user.pem"), "no such key", 0, data, DETACHED));
        assertEquals(KEY_NOT_FOUND, c.ErrorCode);
    }

    @Test
    public void decryptsEnvelopesToTheTokenKey() throws Exception {
        byte[] plain = "to the token key\0\r\n\u00e9".getBytes(StandardCharsets.ISO_8859_1);
        Path in = temp(plain);
        byte[] smimeDer = openssl(null, "smime", "-encrypt", "-aes256", "-binary", "-outform", "DER", "-in",
                                  in.toString(), fixture("user.pem").toString());
        byte[] cmsDer = openssl(null, "cms", "-encrypt", "-aes128", "-binary", "-outform", "DER", "-in", in.toString(),
                                fixture("user.pem").toString());
        String oneLine = Base64.getEncoder().encodeToString(smimeDer);
        String lines = Base64.getMimeEncoder().encodeToString(smimeDer);

        // Every envelope is longer than the copy of a text array kept on the stack.
        assertTrue(oneLine.length() > 256);
        for (String text : new String[] {oneLine, lines, Base64.getMimeEncoder().encodeToString(cmsDer) + "\n"}) {
            byte[] ascii = text.getBytes(StandardCharsets.US_ASCII);
            List<Supplier<byte[]>> decryptions =
                Arrays.asList(() -> c.P11DecryptX(session, "userkey", text, 0),
                              () -> c.P11DecryptX(session, "a1b2", text, BY_CKA_ID),
                              // The array carries no terminator: the native ends the text.
                              () -> c.WKP11DecryptX(session, "userkey", ascii, 0),
                              () -> c.WKP11DecryptX(session, "a1b2", ascii, BY_CKA_ID));
            for (int i = 0; i < decryptions.size(); i++) {
                byte[] result = decryptions.get(i).get();
                assertEquals("decryption " + i + " of " + text, OK, c.ErrorCode);
                assertArrayEquals("decryption " + i, plain, result);
            }
        }

        // An envelope to another recipient.
        byte[] toCa = openssl(null, "smime", "-encrypt", "-aes256", "-binary", "-outform", "DER", "-in", in.toString(),
                              fixture("ca.pem").toString());
        c.ErrorCode = OK;
        assertNull(c.P11DecryptX(session, "userkey", Base64.getEncoder().encodeToString(toCa), 0));
        assertNotEquals(OK, c.ErrorCode);
        assertNull(c.WKP11DecryptX(session, "no such key", oneLine.getBytes(StandardCharsets.US_ASCII), 0));
        assertNotEquals(OK, c.ErrorCode);
    }

    @Test
    public void dataObjectsPlainAndAsBase64() throws Exception {
        byte[] value = "a value\0with a zero byte".getBytes(StandardCharsets.ISO_8859_1);
        assertEquals(OK, c.P11WriteDataObjectX(session, "plain data", 0, value, 0));
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(value, toolRead("data", "plain data"));
        assertArrayEquals(value, c.P11ReadDataObjectX(session, "plain data", 0, 0));
        assertEquals(OK, c.ErrorCode);
        assertEquals(OBJECT_EXIST, c.P11WriteDataObjectX(session, "plain data", 0, new byte[] {1}, 0));
        assertEquals(OBJECT_EXIST, c.ErrorCode);
        assertArrayEquals(value, toolRead("data", "plain data"));

        byte[] three = {(byte) 0xfb, (byte) 0xff, 0x01};
        assertEquals(OK, c.P11WriteDataObjectX(session, "three", 0, three, 0));
        byte[] text = c.P11ReadDataObjectX(session, "three", 0, ENCODE_TEXT);
        assertEquals(OK, c.ErrorCode);
        // Four Base64 characters, and the line end that ends every line of the core's Base64.
        assertEquals("+/8B\n", new String(text, StandardCharsets.US_ASCII));
        assertEquals(OK, c.P11WriteDataObjectX(session, "three again", 0, text, ENCODE_TEXT));
        assertArrayEquals(three, toolRead("data", "three again"));
        assertEquals(OK, c.P11WriteDataObjectX(session, "four bytes", 0, Arrays.copyOf(text, 4), ENCODE_TEXT));
        assertArrayEquals(three, toolRead("data", "four bytes"));
        // Longer values come in lines of 64 characters.
        byte[] hundred = new byte[100];
        for (int i = 0; i < hundred.length; i++) hundred[i] = (byte) (i * 7);
        assertEquals(OK, c.P11WriteDataObjectX(session, "hundred", 1, hundred, 0));
        byte[] lines = c.P11ReadDataObjectX(session, "hundred", 1, ENCODE_TEXT);
        assertEquals(OK, c.ErrorCode);
        assertEquals(Base64.getMimeEncoder(64, new byte[] {'\n'}).encodeToString(hundred) + "\n",
                     new String(lines, StandardCharsets.US_ASCII));
        // White space around the Base64 is stripped; armour is not Base64.
        byte[] spaced = "\r\n +/8B\r\n\t".getBytes(StandardCharsets.US_ASCII);
        assertEquals(OK, c.P11WriteDataObjectX(session, "spaced", 0, spaced, ENCODE_TEXT));
        assertArrayEquals(three, toolRead("data", "spaced"));
        byte[] armoured = "-----BEGIN DATA-----\n+/8B\n-----END DATA-----\n".getBytes(StandardCharsets.US_ASCII);
        assertEquals(BAD_BASE64, c.P11WriteDataObjectX(session, "armoured", 0, armoured, ENCODE_TEXT));
        // Text that is no Base64 writes nothing.
        byte[] notBase64 = "*@*@".getBytes(StandardCharsets.US_ASCII);
        assertEquals(BAD_BASE64, c.P11WriteDataObjectX(session, "not base64", 0, notBase64, ENCODE_TEXT));
        assertNull(c.P11ReadDataObjectX(session, "not base64", 0, 0));
        assertEquals(KEY_NOT_FOUND, c.ErrorCode);

        // A private data object is found only as a private one.
        assertEquals(OK, c.P11WriteDataObjectX(session, "private data", 1, value, 0));
        assertArrayEquals(value, toolRead("data", "private data"));
        assertArrayEquals(value, c.P11ReadDataObjectX(session, "private data", 1, 0));
        assertNull(c.P11ReadDataObjectX(session, "private data", 0, ENCODE_TEXT));
        assertEquals(KEY_NOT_FOUND, c.ErrorCode);
    }

    private static byte[] oddParity(byte[] key) {
        byte[] out = key.clone();
        for (int i = 0; i < out.length; i++) {
            int high = out[i] & 0xfe;
            out[i] = (byte) (Integer.bitCount(high) % 2 == 0 ? high | 1 : high);
        }
        return out;
    }

    @Test
    public void secretKeyValuesWrittenAndReadBack() throws Exception {
        byte[] des3 = new byte[24];
        for (int i = 0; i < des3.length; i++) des3[i] = (byte) (0x10 * i + i); // bytes of even parity among them
        byte[] odd = oddParity(des3);
        assertFalse(Arrays.equals(odd, des3));
        byte[] des2 = "sixteen des key.".getBytes(StandardCharsets.US_ASCII);
        byte[] des = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
        Object[][] cases = {{"des3 value", KIND_DES3, des3.clone(), odd},
                            {"des value", KIND_DES, des.clone(), oddParity(des)},
                            {"des2 value", KIND_DES2, des2.clone(), oddParity(des2)}};
        for (Object[] k : cases) {
            String label = (String) k[0];
            int kind = (Integer) k[1];
            byte[] stored = (byte[]) k[3];
            assertEquals(label, OK, c.P11WriteSymKeyObjectX(session, label, kind, (byte[]) k[2], EXTRACTABLE));
            assertEquals(label, OK, c.ErrorCode);
            assertArrayEquals(label, stored, toolRead("secrkey", label));
            assertArrayEquals(label, stored, c.P11ReadSymKeyObjectX(session, label, kind, 0));
            assertEquals(label, OK, c.ErrorCode);
            assertArrayEquals(label, stored, c.P11ReadSymKeyObjectExX(session, label, kind, 1, 0));
            // The label is taken, whatever the value: the token keeps the first.
            for (byte[] again : new byte[][] {(byte[]) k[2], new byte[stored.length]}) {
                assertEquals(label, OBJECT_EXIST, c.P11WriteSymKeyObjectX(session, label, kind, again, EXTRACTABLE));
                assertEquals(label, OBJECT_EXIST, c.ErrorCode);
            }
            assertArrayEquals(label, stored, toolRead("secrkey", label));
            // Secret keys are private objects.
            assertNull(label, c.P11ReadSymKeyObjectExX(session, label, kind, 0, 0));
            assertEquals(label, KEY_NOT_FOUND, c.ErrorCode);
        }

        // The token keeps a sensitive key's value to itself.
        assertEquals(OK, c.P11WriteSymKeyObjectX(session, "sensitive", KIND_DES3, des3.clone(), SENSITIVE));
        byte[] hidden = c.P11ReadSymKeyObjectX(session, "sensitive", KIND_DES3, 0);
        assertEquals(OK, c.ErrorCode);
        assertEquals(0, hidden.length);
        // The token layer's writer has no AES kind.
        assertEquals(FUNCTION_NOT_SUPPORTED, c.P11WriteSymKeyObjectX(session, "aes", KIND_AES, new byte[16], 0));
        assertNull(c.P11ReadSymKeyObjectX(session, "no such key", KIND_DES3, 0));
        assertEquals(KEY_NOT_FOUND, c.ErrorCode);
    }

    @Test
    public void randomNumbersOfEachLength() {
        byte[] none = c.P11GetRandomNumberX(session, 0);
        assertEquals(OK, c.ErrorCode);
        assertEquals(0, none.length);
        byte[] a = c.P11GetRandomNumberX(session, 48);
        assertEquals(OK, c.ErrorCode);
        byte[] b = c.P11GetRandomNumberX(session, 48);
        assertEquals(48, a.length);
        assertFalse(Arrays.equals(a, b));
        assertFalse(Arrays.equals(new byte[48], a));
        assertEquals(4097, c.P11GetRandomNumberX(session, 4097).length);
        for (int negative : new int[] {-1, Integer.MIN_VALUE}) {
            c.ErrorCode = OK;
            assertNull(c.P11GetRandomNumberX(session, negative));
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
        }
    }

    @Test
    public void relabellingIsWhatPkcs11ToolLists() throws Exception {
        assertEquals(OK, c.P11WriteDataObjectX(session, "before relabel", 0, new byte[] {7}, 0));
        assertEquals(OK, c.P11ChangeObjLabelX(session, "before relabel", KIND_DATA, "after relabel", 0));
        assertEquals(OK, c.ErrorCode);
        String listed = TokenPeer.tool("-O").text();
        assertTrue(listed, listed.contains("after relabel"));
        assertFalse(listed, listed.contains("before relabel"));
        assertArrayEquals(new byte[] {7}, c.P11ReadDataObjectX(session, "after relabel", 0, 0));
        assertEquals(KEY_NOT_FOUND, c.P11ChangeObjLabelX(session, "before relabel", KIND_DATA, "again", 0));
        assertEquals(KEY_NOT_FOUND, c.ErrorCode);
    }

    @Test
    public void recordsTheTokenDoesNotHoldAreEmpty() {
        for (int selector : new int[] {-3, 0, 1, 2}) {
            c.ErrorCode = 77;
            byte[] record = c.P11HCAGetBasicDataX(session, selector);
            assertEquals(OK, c.ErrorCode);
            assertEquals(0, record.length);
        }
    }

    /** Each native with a session of 0, in its own result form: what it returned is the code or null. */
    @Test
    public void sessionZeroReachesNoToken() {
        byte[] b = {1, 2, 3};
        List<ToIntFunction<WKP11Crypt>> natives = Arrays.asList(
            x -> x.WKP11SignX(0, "userkey", 0, data, DETACHED, SHA256) == null ? -1 : 0,
            x -> x.P11SignX(0, "userkey", 0, data, DETACHED, SHA256) == null ? -1 : 0,
            x -> x.P11SignByCertStringX(0, "cert", "userkey", 0, data, 0) == null ? -1 : 0,
            x -> x.P11DecryptX(0, "userkey", "AAAA", 0) == null ? -1 : 0,
            x -> x.WKP11DecryptX(0, "userkey", b, 0) == null ? -1 : 0,
            x -> x.P11ReadDataObjectX(0, "data", 0, 0) == null ? -1 : 0,
            x -> x.P11ReadDataObjectX(0, "data", 0, ENCODE_TEXT) == null ? -1 : 0,
            x -> x.P11WriteDataObjectX(0, "data", 0, b, 0),
            x -> x.P11WriteDataObjectX(0, "data", 0, b, ENCODE_TEXT),
            x -> x.P11WriteSymKeyObjectX(0, "key", KIND_DES3, new byte[24], 0),
            x -> x.P11ReadSymKeyObjectX(0, "key", KIND_DES3, 0) == null ? -1 : 0,
            x -> x.P11ReadSymKeyObjectExX(0, "key", KIND_DES3, 1, 0) == null ? -1 : 0,
            x -> x.P11GetRandomNumberX(0, 16) == null ? -1 : 0,
            x -> x.P11GetRandomNumberX(0, -1) == null ? -1 : 0,
            x -> x.P11ChangeObjLabelX(0, "data", KIND_DATA, "other", 0),
            x -> x.P11HCAGetBasicDataX(0, 0) == null ? -1 : 0);
        int[] forms = {-1, -1, -1, -1, -1, -1, -1, BAD_ARGUMENT, BAD_ARGUMENT, BAD_ARGUMENT, -1, -1, -1, -1,
                       BAD_ARGUMENT, -1};
        assertEquals(forms.length, natives.size());
        for (int i = 0; i < forms.length; i++) {
            c.ErrorCode = 77;
            assertEquals("native " + i, forms[i], natives.get(i).applyAsInt(c));
            assertEquals("native " + i, BAD_ARGUMENT, c.ErrorCode);
        }
    }
}
