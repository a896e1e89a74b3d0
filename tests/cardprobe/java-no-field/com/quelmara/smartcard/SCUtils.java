package com.quelmara.smartcard;

// SCUtils without the ErrorCode field: the natives must still answer, and no
// exception may reach the caller.
public class SCUtils {
    public native String[] ListReaders();
    public native String GetATR(String reader);
    public native int SelectApplet(String reader, String aid);

    public static void main(String[] args) {
        System.load(args[0]);
        SCUtils card = new SCUtils();
        String[] names = card.ListReaders();
        System.out.println("readers " + (names == null ? "null" : Integer.toString(names.length)));
        System.out.println("atr " + card.GetATR(args[1]));
        System.out.println("select " + card.SelectApplet(args[1], args[2]));
    }
}
