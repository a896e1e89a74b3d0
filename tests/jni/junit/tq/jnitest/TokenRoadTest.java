package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static tq.jnitest.Peer.*;

import java.nio.charset.StandardCharsets;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

/** The road from Java through a SoftHSM2 token that the test runner made with the fixture user key. */
public class TokenRoadTest {
    static {
        Peer.load();
    }

    private static final int PIN_INCORRECT = 9039, KEY_NOT_FOUND = 9100, LOAD_LIBRARY_FAIL = 9110,
                             SLOT_NOT_FOUND = 9112;
    private static final int BY_CKA_ID = 0x1000000, DETACHED = 0x4000, SHA256 = 4, HASH_DATA = 0x10000;
    private static final String PIN = "123456", SO_PIN = "87654321";

    private final WKP11Crypt c = new WKP11Crypt();
    private final String module = System.getenv("TQ_P11_MODULE");
    private final byte[] data = "signed on the token\r\n\0 and binary".getBytes(StandardCharsets.ISO_8859_1);

    /** The slot whose token shows the serial pkcs11-tool listed; the slots end at their bound. */
    private void selectTokenSlot(long context) {
        String wanted = System.getenv("TQ_P11_SERIAL").trim();
        int found = -1;
        for (int i = 0;; i++) {
            int code = (i % 2 == 0) ? c.XP11SetCurrentSlotX(context, i) : c.XSetCurrentSlotX(context, i);
            if (code == SLOT_NOT_FOUND) break;
            assertEquals("slot " + i, OK, code);
            String serial = c.XP11GetTokenSNX(context);
            assertEquals(OK, c.ErrorCode);
            // The token's blank padding is part of the field.
            assertEquals(16, serial.length());
            if (serial.trim().equals(wanted)) found = i;
        }
        assertEquals(SLOT_NOT_FOUND, c.ErrorCode);
        assertEquals(SLOT_NOT_FOUND, c.XP11SetCurrentSlotX(context, -1));
        assertNotEquals("no slot shows " + wanted, -1, found);
        assertEquals(OK, c.XP11SetCurrentSlotX(context, found));
    }

    private byte[] signOnToken(long session, long cert) throws Exception {
        long byLabel = c.XP11CryptGetPrivateKeyX(session, "userkey", 0);
        assertEquals(OK, c.ErrorCode);
        long byId = c.XGetPrivateKeyX(session, "a1b2", BY_CKA_ID);
        assertEquals(OK, c.ErrorCode);
        assertNotEquals(0, byId);
        assertEquals(0, c.XP11CryptGetPrivateKeyX(session, "no such key", 0));
        assertEquals(KEY_NOT_FOUND, c.ErrorCode);

        byte[] sig = c.XPureSignX(byId, data, HASH_DATA | SHA256);
        assertEquals(OK, c.ErrorCode);
        // PKCS#1 v1.5 is deterministic: the token signs as the software key does.
        long soft = decode(c, PRIVATEKEY, "user.rsa.der");
        assertArrayEquals(c.XPureSignX(soft, data, HASH_DATA | SHA256), sig);
        c.XFreeHandleX(soft);

        // The token's public key is the fixture's.
        long pub = c.XGetPublicKeyX(session, "userkey", 0);
        assertEquals(OK, c.ErrorCode);
        long softPub = decode(c, PUBLICKEY, "user.pub.der");
        assertArrayEquals(c.XRSAKeyGetModulusX(softPub), c.XRSAKeyGetModulusX(pub));
        assertArrayEquals(c.XRSAKeyGetExponentX(softPub), c.XRSAKeyGetExponentX(pub));
        assertEquals(OK, c.ErrorCode);
        c.XFreeHandleX(softPub);
        c.XFreeHandleX(pub);
        assertEquals(0, c.XP11CryptGetPublicKeyX(session, "no such key", 0));
        assertNotEquals(OK, c.ErrorCode);
        c.XFreeHandleX(byId);

        long p7 = c.XPKCS7SignX(cert, byLabel, 0, data, DETACHED, SHA256);
        assertEquals(OK, c.ErrorCode);
        byte[] der = c.XEncodeObjectX(p7, PKCS7, 0);
        assertEquals(OK, c.ErrorCode);
        c.XFreeHandleX(p7);
        c.XFreeHandleX(byLabel);
        return der;
    }

    private interface Init {
        long run();
    }

    @Test
    public void mainRoadUnderEachInitialisation() throws Exception {
        long cert = decode(c, CERTIFICATE, "user.der");
        Init[] inits = {() -> c.XP11InitX(module), () -> c.XP11InitExX(module, c.XP11SyncMutexX()),
                        () -> c.XP11InitExX(module, 0), () -> c.XP11MTInitX(module)};
        for (int n = 0; n < inits.length; n++) {
            String what = "initialisation " + n;
            long context = inits[n].run();
            assertEquals(what, OK, c.ErrorCode);
            selectTokenSlot(context);
            long session = c.XP11OpenSessionX(context);
            assertEquals(what, OK, c.ErrorCode);
            assertEquals(what, PIN_INCORRECT, c.XP11LoginX(session, "999999"));
            assertEquals(what, PIN_INCORRECT, c.ErrorCode);
            assertEquals(what, OK, (n % 2 == 0) ? c.XP11LoginX(session, PIN) : c.LoginX(session, PIN));

            byte[] p7 = signOnToken(session, cert);
            Result r = run(p7, "cms", "-verify", "-binary", "-inform", "DER", "-CAfile", fixture("ca.pem").toString(),
                           "-content", temp(data).toString(), "-out", "/dev/null");
            assertEquals(what, 0, r.status);
            // Not the content that was signed.
            byte[] other = data.clone();
            other[0] ^= 1;
            assertNotEquals(what, 0, run(p7, "cms", "-verify", "-binary", "-inform", "DER", "-CAfile",
                                         fixture("ca.pem").toString(), "-content", temp(other).toString())
                                         .status);

            assertEquals(what, OK, (n % 2 == 0) ? c.XP11LogoutX(session) : c.LogoutX(session));
            // Logged out, the private key is out of reach.
            assertEquals(what, 0, c.XP11CryptGetPrivateKeyX(session, "userkey", 0));
            assertNotEquals(what, OK, c.ErrorCode);
            // The security officer's login is the officer's PIN, not the user's.
            assertEquals(what, PIN_INCORRECT, c.XP11Login_SOX(session, PIN));
            assertEquals(what, OK, c.XP11Login_SOX(session, SO_PIN));
            assertEquals(what, OK, c.XP11LogoutX(session));
            assertEquals(what, OK, c.XP11CloseSessionX(session));
            assertEquals(what, OK, c.XP11FinalX(context));
        }
        c.XFreeHandleX(cert);
    }

    private int tokenLogin(String pin) throws Exception {
        Process p = new ProcessBuilder("timeout", "60", System.getenv("TQ_PKCS11_TOOL"), "--module", module, "--token-label",
                                       "tqjava", "--login", "--pin", pin, "-O")
                        .redirectErrorStream(true)
                        .redirectOutput(ProcessBuilder.Redirect.DISCARD)
                        .start();
        return p.waitFor();
    }

    @Test
    public void changedPinIsTheTokensPin() throws Exception {
        long context = c.XP11InitX(module);
        assertEquals(OK, c.ErrorCode);
        selectTokenSlot(context);
        long session = c.XP11OpenSessionX(context);
        assertEquals(OK, c.ErrorCode);
        assertEquals(OK, c.XP11LoginX(session, PIN));
        assertEquals(PIN_INCORRECT, c.P11ChangePINX(session, "999999", "654321", 0));
        assertEquals(OK, c.P11ChangePINX(session, PIN, "654321", 0));
        assertEquals(OK, c.ErrorCode);
        assertEquals(0, tokenLogin("654321"));
        assertNotEquals(0, tokenLogin(PIN));
        assertEquals(OK, c.P11ChangePINX(session, "654321", PIN, 0));
        assertEquals(0, tokenLogin(PIN));
        assertEquals(OK, c.XP11LogoutX(session));
        assertEquals(OK, c.XP11CloseSessionX(session));
        assertEquals(OK, c.XP11FinalX(context));
        assertEquals(BAD_ARGUMENT, c.P11ChangePINX(0, PIN, PIN, 0));
    }

    @Test
    public void versionAndRefusals() {
        c.ErrorCode = 77;
        assertEquals("2,5,13,202", c.GetNativeVersion());
        assertEquals(77, c.ErrorCode);
        assertEquals(c.XP11SyncMutexX(), c.XP11SyncCriticalSectionX());
        assertNotEquals(0, c.XP11SyncMutexX());

        assertEquals(0, c.XP11InitX("/nonexistent/module.so"));
        assertEquals(LOAD_LIBRARY_FAIL, c.ErrorCode);
        assertEquals(0, c.XP11MTInitX(null));
        assertNotEquals(OK, c.ErrorCode);

        // A context or session of 0 reaches no token call.
        assertEquals(BAD_ARGUMENT, c.XP11FinalX(0));
        assertEquals(BAD_ARGUMENT, c.XP11SetCurrentSlotX(0, 0));
        assertNull(c.XP11GetTokenSNX(0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        assertEquals(0, c.XP11OpenSessionX(0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        assertEquals(BAD_ARGUMENT, c.XP11CloseSessionX(0));
        assertEquals(BAD_ARGUMENT, c.XP11LoginX(0, PIN));
        assertEquals(BAD_ARGUMENT, c.XP11Login_SOX(0, SO_PIN));
        assertEquals(BAD_ARGUMENT, c.LogoutX(0));
        for (long key : new long[] {c.XP11CryptGetPrivateKeyX(0, "userkey", 0), c.XGetPublicKeyX(0, "userkey", 0)}) {
            assertEquals(0, key);
            assertEquals(BAD_ARGUMENT, c.ErrorCode);
        }
    }
}
