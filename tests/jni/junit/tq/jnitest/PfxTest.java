package tq.jnitest;

import static org.junit.Assert.assertArrayEquals;
import static org.junit.Assert.assertEquals;
import static tq.jnitest.Peer.*;

import java.nio.file.Files;
import java.nio.file.Path;

import org.junit.Test;

import com.vandrelot.crypto.WKP11Crypt;

public class PfxTest {
    static {
        Peer.load();
    }

    private final WKP11Crypt c = new WKP11Crypt();

    private byte[] export(String... extra) throws Exception {
        Path out = temp(new byte[0]);
        String[] base = {"pkcs12", "-export", "-in", fixture("user.pem").toString(), "-inkey",
                         fixture("user.key.pem").toString(), "-certfile", fixture("ca.pem").toString(),
                         "-passout", "pass:pfx pass", "-out", out.toString()};
        String[] args = new String[base.length + extra.length];
        System.arraycopy(base, 0, args, 0, base.length);
        System.arraycopy(extra, 0, args, base.length, extra.length);
        openssl(null, args);
        return Files.readAllBytes(out);
    }

    @Test
    public void keyAndCertificateOfOpensslFiles() throws Exception {
        for (String[] form : new String[][] {{}, {"-legacy"}}) {
            byte[] pfx = export(form);
            long key = c.PFX_XGetPrivateKeyX(pfx, "pfx pass", 0, 0);
            assertEquals(OK, c.ErrorCode);
            assertArrayEquals(read("user.rsa.der"), c.XEncodeObjectX(key, PRIVATEKEY, 0));
            long cert = c.PFX_XGetCertificateX(pfx, "pfx pass", 0, 0);
            assertEquals(OK, c.ErrorCode);
            assertArrayEquals(read("user.der"), c.XEncodeObjectX(cert, CERTIFICATE, 0));
            c.XFreeHandleX(key);
            c.XFreeHandleX(cert);

            assertEquals(0, c.PFX_XGetPrivateKeyX(pfx, "wrong", 0, 0));
            assertEquals(P12_BAD_MAC, c.ErrorCode);
            assertEquals(0, c.PFX_XGetPrivateKeyX(pfx, "pfx pass", 1, 0));
            assertEquals(P12_NO_ITEM, c.ErrorCode);
            assertEquals(0, c.PFX_XGetCertificateX(pfx, "pfx pass", 1, 0));
            assertEquals(P12_NO_ITEM, c.ErrorCode);
        }
        assertEquals(0, c.PFX_XGetPrivateKeyX(null, "pfx pass", 0, 0));
        assertEquals(BAD_PKCS12, c.ErrorCode);
    }
}
