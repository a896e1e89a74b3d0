package com.quelmara.smartcard;

// The Java side of cardprobe's natives, as a test drives it: each argument
// after the library path is one call, and each call prints one line with its
// answer and the ErrorCode it left (which starts at -1 before every call).
public class SCUtils {
    public int ErrorCode;

    public native String GetNativeVersion();
    public native String[] ListReaders();
    public native String GetATR(String reader);
    public native int SelectApplet(String reader, String aid);

    private static String quoted(String s) {
        if (s == null) return "null";
        StringBuilder b = new StringBuilder("\"");
        for (char c : s.toCharArray()) {
            if (c < 0x20 || c > 0x7e) b.append(String.format("\\u%04x", (int) c));
            else b.append(c);
        }
        return b.append('"').toString();
    }

    public static void main(String[] args) {
        System.load(args[0]);
        SCUtils card = new SCUtils();
        for (int i = 1; i < args.length; i++) {
            String[] call = args[i].split("\\|", -1);
            String reader = call.length > 1 && !call[1].equals("null") ? call[1] : null;
            String aid = call.length > 2 && !call[2].equals("null") ? call[2] : null;
            card.ErrorCode = -1;
            String answer;
            switch (call[0]) {
                case "version":
                    answer = quoted(card.GetNativeVersion());
                    break;
                case "readers": {
                    String[] names = card.ListReaders();
                    if (names == null) {
                        answer = "null";
                    } else {
                        StringBuilder b = new StringBuilder("[");
                        for (int n = 0; n < names.length; n++) b.append(n > 0 ? "," : "").append(quoted(names[n]));
                        answer = b.append(']').toString();
                    }
                    break;
                }
                case "atr":
                    answer = quoted(card.GetATR(reader));
                    break;
                case "select":
                    answer = Integer.toString(card.SelectApplet(reader, aid));
                    break;
                default:
                    throw new IllegalArgumentException(call[0]);
            }
            System.out.println(call[0] + " " + answer + " ErrorCode=" + card.ErrorCode);
        }
    }
}
