package tq.jnitest;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;
import static tq.jnitest.Peer.*;
import static tq.jnitest.TokenPeer.PIN;

import java.util.function.IntSupplier;

import org.junit.Before;
import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

/** Logins in several steps (through the shim module, which has the vendor steps) and the bank login. */
public class TokenLoginTest {
    static {
        Peer.load();
    }

    private static final int ARGUMENTS_BAD = 9006, DEVICE_ERROR = 9016, FUNCTION_NOT_SUPPORTED = 9023,
                             PIN_INCORRECT = 9039, USER_ALREADY_LOGGED_IN = 9062,
                             LOAD_LIBRARY_FAIL = 9110;
    private static final long CKR_DEVICE_ERROR = 0x30;
    // A value no login step leaves, to see which steps store the field.
    private static final int UNTOUCHED = -77;

    private final WKP11Crypt c = new WKP11Crypt();

    @Before
    public void resetShim() {
        ShimControl.reset();
    }

    private int init(long session, boolean alias) {
        return alias ? c.LoginInitX(session) : c.XP11LoginInitX(session);
    }

    private int update(long session, String part, boolean alias) {
        return alias ? c.LoginUpdateX(session, part) : c.XP11LoginUpdateX(session, part);
    }

    private int end(long session, boolean alias) {
        return alias ? c.LoginFinalX(session) : c.XP11LoginFinalX(session);
    }

    /** Whether the user's private key is in reach, as it is only to a logged-in user. */
    private boolean userKeyInReach(long session) {
        long key = c.XP11CryptGetPrivateKeyX(session, "userkey", 0);
        c.XFreeHandleX(key);
        return key != 0;
    }

    @Test
    public void loginInSeveralStepsCountsThePartsTheModuleAsks() {
        ShimControl.setLoginParts(3);
        try (TokenPeer t = TokenPeer.open(c, ShimControl.module())) {
            for (boolean alias : new boolean[] {false, true}) {
                String what = alias ? "short names" : "long names";
                c.iLoginRequired = UNTOUCHED;
                assertEquals(what, OK, init(t.session, alias));
                assertEquals(what, OK, c.ErrorCode);
                assertEquals(what, 3, c.iLoginRequired);
                String[] parts = {"12", "3", "456"};
                for (int i = 0; i < parts.length; i++) {
                    assertEquals(what, OK, update(t.session, parts[i], alias));
                    assertEquals(what, parts.length - 1 - i, c.iLoginRequired);
                }
                assertEquals(what, OK, end(t.session, alias));
                assertEquals(what, OK, c.ErrorCode);
                assertTrue(what, userKeyInReach(t.session));
                assertEquals(what, OK, c.XP11LogoutX(t.session));
                assertFalse(what, userKeyInReach(t.session));
            }

            // All parts given, but not the PIN.
            assertEquals(OK, c.XP11LoginInitX(t.session));
            for (String part : new String[] {"12", "34", "99"}) assertEquals(OK, c.LoginUpdateX(t.session, part));
            assertEquals(PIN_INCORRECT, c.XP11LoginFinalX(t.session));
            assertEquals(PIN_INCORRECT, c.ErrorCode);
            assertFalse(userKeyInReach(t.session));

            // Ended before the module had all parts: the module refuses it.
            assertEquals(OK, c.LoginInitX(t.session));
            assertEquals(OK, c.LoginUpdateX(t.session, PIN));
            assertEquals(2, c.iLoginRequired);
            assertEquals(PIN_INCORRECT, c.LoginFinalX(t.session));
            assertFalse(userKeyInReach(t.session));
        }
    }

    @Test
    public void failedStepsLeaveThePartCountAlone() {
        try (TokenPeer t = TokenPeer.open(c, ShimControl.module())) {
            c.iLoginRequired = UNTOUCHED;
            ShimControl.inject("C_LoginBegin", CKR_DEVICE_ERROR);
            assertEquals(DEVICE_ERROR, c.XP11LoginInitX(t.session));
            assertEquals(DEVICE_ERROR, c.ErrorCode);
            assertEquals(UNTOUCHED, c.iLoginRequired);

            assertEquals(OK, c.XP11LoginInitX(t.session));
            assertEquals(2, c.iLoginRequired);
            c.iLoginRequired = UNTOUCHED;
            ShimControl.inject("C_LoginNext", CKR_DEVICE_ERROR);
            assertEquals(DEVICE_ERROR, c.XP11LoginUpdateX(t.session, "123"));
            assertEquals(UNTOUCHED, c.iLoginRequired);
            // A null part is the token layer's refusal; the module never sees it.
            int nextCalls = ShimControl.calls("C_LoginNext");
            assertEquals(ARGUMENTS_BAD, c.LoginUpdateX(t.session, null));
            assertEquals(ARGUMENTS_BAD, c.ErrorCode);
            assertEquals(nextCalls, ShimControl.calls("C_LoginNext"));
            assertEquals(UNTOUCHED, c.iLoginRequired);

            // The login goes on after the refusals.
            assertEquals(OK, c.XP11LoginUpdateX(t.session, "123"));
            assertEquals(OK, c.XP11LoginUpdateX(t.session, "456"));
            assertEquals(0, c.iLoginRequired);
            assertEquals(OK, c.XP11LoginFinalX(t.session));
            assertTrue(userKeyInReach(t.session));
        }
    }

    @Test
    public void softHsmHasNoLoginStepsAndLeavesTheFieldAlone() {
        try (TokenPeer t = TokenPeer.open(c, TokenPeer.MODULE)) {
            for (boolean alias : new boolean[] {false, true}) {
                c.iLoginRequired = UNTOUCHED;
                assertEquals(FUNCTION_NOT_SUPPORTED, init(t.session, alias));
                assertEquals(FUNCTION_NOT_SUPPORTED, c.ErrorCode);
                assertEquals(FUNCTION_NOT_SUPPORTED, update(t.session, PIN, alias));
                assertEquals(FUNCTION_NOT_SUPPORTED, end(t.session, alias));
                assertEquals(FUNCTION_NOT_SUPPORTED, c.ErrorCode);
                assertEquals(UNTOUCHED, c.iLoginRequired);
                assertFalse(userKeyInReach(t.session));
            }
        }
    }

    @Test
    public void bankLoginThroughTheHostsLibrary() {
        String bank = System.getenv("TQ_BANK_LIBRARY");
        try (TokenPeer t = TokenPeer.open(c, TokenPeer.MODULE)) {
            assertEquals(PIN_INCORRECT, c.XP11BankLoginX(t.session, bank, "123", "000"));
            assertEquals(PIN_INCORRECT, c.ErrorCode);
            assertFalse(userKeyInReach(t.session));
            // The library's two values are the halves of the PIN.
            assertEquals(OK, c.XP11BankLoginX(t.session, bank, "123", "456"));
            assertEquals(OK, c.ErrorCode);
            assertTrue(userKeyInReach(t.session));
            // The module itself has the user logged in.
            assertEquals(USER_ALREADY_LOGGED_IN, c.XP11LoginX(t.session, PIN));
            assertEquals(OK, c.XP11LogoutX(t.session));

            // No library, none at the path, and one without the login entry.
            for (String path : new String[] {null, "/nonexistent/bank.so", System.getProperty("tq.library")}) {
                assertEquals(String.valueOf(path), LOAD_LIBRARY_FAIL, c.XP11BankLoginX(t.session, path, "123", "456"));
                assertEquals(LOAD_LIBRARY_FAIL, c.ErrorCode);
            }
            assertFalse(userKeyInReach(t.session));
        }
    }

    @Test
    public void sessionOfZeroReachesNoModule() {
        String bank = System.getenv("TQ_BANK_LIBRARY");
        IntSupplier[] calls = {() -> c.XP11LoginInitX(0),      () -> c.LoginInitX(0),
                               () -> c.XP11LoginUpdateX(0, PIN), () -> c.LoginUpdateX(0, PIN),
                               () -> c.XP11LoginFinalX(0),     () -> c.LoginFinalX(0),
                               () -> c.XP11BankLoginX(0, bank, "123", "456")};
        c.iLoginRequired = UNTOUCHED;
        for (int i = 0; i < calls.length; i++) {
            c.ErrorCode = OK;
            assertEquals("call " + i, BAD_ARGUMENT, calls[i].getAsInt());
            assertEquals("call " + i, BAD_ARGUMENT, c.ErrorCode);
            assertEquals("call " + i, UNTOUCHED, c.iLoginRequired);
        }
    }
}
