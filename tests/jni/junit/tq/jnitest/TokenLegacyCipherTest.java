package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static tq.jnitest.Peer.*;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

/**
 * A JVM that calls nothing but token natives: the module runs single DES inside our process, so its
 * initialisation must have made the legacy ciphers available, as a decode before would have.
 */
public class TokenLegacyCipherTest {
    static {
        Peer.load();
    }

    @Test
    public void singleDesOnTheTokenWithoutAnyDecodeBefore() throws Exception {
        WKP11Crypt c = new WKP11Crypt();
        long context = c.XP11MTInitX(TokenSecretTest.MODULE);
        assertEquals(OK, c.ErrorCode);
        long session = TokenSecretTest.openSession(c, context);
        assertEquals(OK, c.XP11LoginX(session, TokenSecretTest.PIN));
        String key = TokenSecretTest.generatedDesKey(c, session, "legacy");
        byte[] plain = TokenSecretTest.bytes(24, 1);
        byte[] cipher = c.P11SymEncryptExX(session, "legacy", 0x7fff0000L, TokenSecretTest.DES, null, plain,
                                           TokenSecretTest.DES_CBC);
        assertEquals(OK, c.ErrorCode);
        assertArrayEquals(TokenSecretTest.enc(plain, "des-cbc", key, "0", false, false), cipher);
        assertEquals(OK, c.XP11LogoutX(session));
        assertEquals(OK, c.XP11CloseSessionX(session));
        assertEquals(OK, c.XP11FinalX(context));
    }
}
