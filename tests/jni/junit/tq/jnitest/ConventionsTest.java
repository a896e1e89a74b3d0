package tq.jnitest;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertNotEquals;
import static org.junit.Assert.assertNull;
import static tq.jnitest.Peer.*;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

public class ConventionsTest {
    static {
        Peer.load();
    }

    private final WKP11Crypt c = new WKP11Crypt();

    @Test
    public void nullArgumentsReachTheCoreAsNull() {
        c.ErrorCode = -1;
        assertNull(c.XPureSignX(0, null, 0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        c.ErrorCode = -1;
        assertEquals(0, c.XDecodeObjectX(CERTIFICATE, null, 0));
        assertNotEquals(-1, c.ErrorCode);
        assertNotEquals(OK, c.ErrorCode);
        c.ErrorCode = -1;
        assertEquals(BAD_ARGUMENT, c.XCheckKeyPairX(0, 0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        c.ErrorCode = -1;
        assertNull(c.XPKCS7GetContentX(0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
        c.ErrorCode = -1;
        assertEquals(0, c.XPrivateKeyGetPublicKeyX(0));
        assertEquals(BAD_ARGUMENT, c.ErrorCode);
    }

    @Test
    public void nativesThatStoreNothing() {
        c.ErrorCode = 4242;
        c.XFreeHandleX(0);
        assertEquals(4242, c.ErrorCode);
        int before = c.XCheckKeyUsage(1);
        assertEquals(4242, c.ErrorCode);
        c.XCheckKeyUsage(before);
        assertEquals(4242, c.ErrorCode);
        assertEquals(0, c.TrySocketConnect("127.0.0.1", 1, 1));
        assertEquals(OK, c.ErrorCode);
        c.ErrorCode = 4242;
        assertEquals(0, c.TrySocketConnect(null, -1, 0));
        assertEquals(OK, c.ErrorCode);
    }

    /** Codes in place of handles. */
    @Test
    public void codesReturnedInPlaceOfHandles() {
        assertEquals((long) NOT_SUPPORTED, c.XGenerateKeyX(3, "pw", null, 1, 0));
        assertEquals(NOT_SUPPORTED, c.ErrorCode);
        long failed = c.XCreateRSAPublicKeyX(null, new byte[] {1, 0, 1}, 0);
        assertNotEquals(OK, c.ErrorCode);
        assertEquals((long) c.ErrorCode, failed);
    }
}
