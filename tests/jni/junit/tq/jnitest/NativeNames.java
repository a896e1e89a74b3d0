package tq.jnitest;

import java.lang.reflect.Method;
import java.lang.reflect.Modifier;
import java.util.HashMap;
import java.util.Map;
import java.util.Set;

/** Prints the JNI name of each native that WKP11Crypt declares. */
public final class NativeNames {
    /** Declared once, yet exported under the long name. */
    private static final Set<String> LONG_NAMES = Set.of("XGenerateKeyX");

    private NativeNames() {}

    static String escape(String s) {
        StringBuilder b = new StringBuilder();
        for (char c : s.toCharArray()) {
            if (c == '_') b.append("_1");
            else if (c == ';') b.append("_2");
            else if (c == '[') b.append("_3");
            else if (c == '/') b.append('_');
            else if (c > 127) b.append(String.format("_0%04x", (int) c));
            else b.append(c);
        }
        return b.toString();
    }

    static String signature(Class<?> t) {
        if (t.isArray()) return "[" + signature(t.getComponentType());
        if (t == int.class) return "I";
        if (t == long.class) return "J";
        if (t == boolean.class) return "Z";
        if (t == byte.class) return "B";
        if (t == char.class) return "C";
        if (t == short.class) return "S";
        if (t == float.class) return "F";
        if (t == double.class) return "D";
        return "L" + t.getName().replace('.', '/') + ";";
    }

    public static void main(String[] args) throws Exception {
        Class<?> cls = Class.forName("com.vandrelot.crypto.WKP11Crypt");
        Map<String, Integer> overloads = new HashMap<>();
        for (Method m : cls.getDeclaredMethods()) {
            if (Modifier.isNative(m.getModifiers())) overloads.merge(m.getName(), 1, Integer::sum);
        }
        String prefix = "Java_" + escape("com/vandrelot/crypto/WKP11Crypt") + "_";
        for (Method m : cls.getDeclaredMethods()) {
            if (!Modifier.isNative(m.getModifiers())) continue;
            String name = prefix + escape(m.getName());
            if (overloads.get(m.getName()) > 1 || LONG_NAMES.contains(m.getName())) {
                StringBuilder sig = new StringBuilder();
                for (Class<?> p : m.getParameterTypes()) sig.append(signature(p));
                name += "__" + escape(sig.toString());
            }
            System.out.println(name);
        }
    }
}
