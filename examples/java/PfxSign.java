import java.nio.file.Files;
import java.nio.file.Paths;

import com.vandrelot.crypto.WKP11Crypt;

/** Signs a file with the key and certificate of a PFX, as a detached PKCS#7 message. */
public final class PfxSign {
    private PfxSign() {}

    public static void main(String[] args) throws Exception {
        System.load(args[0]);
        byte[] pfx = Files.readAllBytes(Paths.get(args[1]));
        String password = args[2];
        byte[] data = Files.readAllBytes(Paths.get(args[3]));
        WKP11Crypt c = new WKP11Crypt();
        long key = c.PFX_XGetPrivateKeyX(pfx, password, 0, 0);
        check(c, "key from the PFX");
        long cert = c.PFX_XGetCertificateX(pfx, password, 0, 0);
        check(c, "certificate from the PFX");
        long p7 = c.XPKCS7SignX(cert, key, 0, data, 0x4000, 4); // detached, SHA-256
        check(c, "signing");
        byte[] der = c.XEncodeObjectX(p7, 4, 0);
        check(c, "encoding");
        Files.write(Paths.get(args[4]), der);
        c.XFreeHandleX(p7);
        c.XFreeHandleX(cert);
        c.XFreeHandleX(key);
        System.out.println("java: signed " + data.length + " bytes into " + der.length + " bytes of PKCS#7");
    }

    private static void check(WKP11Crypt c, String step) {
        if (c.ErrorCode != 0) {
            System.err.println("java: " + step + " failed with " + c.ErrorCode);
            System.exit(1);
        }
    }
}
