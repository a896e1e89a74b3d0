import java.nio.file.Files;
import java.nio.file.Paths;

import com.vandrelot.crypto.WKP11Crypt;

/**
 * The main road from Java: the module is loaded, the token of a serial number chosen, a session opened and
 * logged in; the token key signs a file as a detached PKCS#7 message, and everything is released again.
 */
public final class TokenSign {
    private static final int SLOT_NOT_FOUND = 9112;

    private TokenSign() {}

    public static void main(String[] args) throws Exception {
        System.load(args[0]);
        String module = args[1], serial = args[2], pin = args[3], keyLabel = args[4];
        byte[] certificate = Files.readAllBytes(Paths.get(args[5]));
        byte[] data = Files.readAllBytes(Paths.get(args[6]));
        WKP11Crypt c = new WKP11Crypt();
        System.out.println("java: " + c.GetNativeVersion() + " loads " + module);

        long context = c.XP11InitExX(module, c.XP11SyncMutexX());
        check(c, "module initialisation");
        selectSlot(c, context, serial);
        long session = c.XP11OpenSessionX(context);
        check(c, "opening a session");
        c.XP11LoginX(session, pin);
        check(c, "login");

        long key = c.XP11CryptGetPrivateKeyX(session, keyLabel, 0);
        check(c, "the token key \"" + keyLabel + "\"");
        long cert = c.XDecodeObjectX(1, certificate, 0x2000); // certificate, PEM text
        check(c, "decoding the certificate");
        long p7 = c.XPKCS7SignX(cert, key, 0, data, 0x4000, 4); // detached, SHA-256
        check(c, "signing with the token key");
        byte[] der = c.XEncodeObjectX(p7, 4, 0);
        check(c, "encoding");
        Files.write(Paths.get(args[7]), der);
        c.XFreeHandleX(p7);
        c.XFreeHandleX(cert);
        c.XFreeHandleX(key);

        c.XP11LogoutX(session);
        check(c, "logout");
        c.XP11CloseSessionX(session);
        check(c, "closing the session");
        c.XP11FinalX(context);
        check(c, "finalisation");
        System.out.println("java: the token key signed " + data.length + " bytes into " + der.length
                           + " bytes of PKCS#7");
    }

    private static void selectSlot(WKP11Crypt c, long context, String serial) {
        for (int i = 0; c.XP11SetCurrentSlotX(context, i) != SLOT_NOT_FOUND; i++) {
            check(c, "slot " + i);
            String found = c.XP11GetTokenSNX(context);
            if (c.ErrorCode == 0 && found.trim().equals(serial)) {
                System.out.println("java: token " + serial + " is in slot " + i);
                return;
            }
        }
        System.err.println("java: no slot holds the token " + serial);
        System.exit(1);
    }

    private static void check(WKP11Crypt c, String step) {
        if (c.ErrorCode != 0) {
            System.err.println("java: " + step + " failed with " + c.ErrorCode);
            System.exit(1);
        }
    }
}
