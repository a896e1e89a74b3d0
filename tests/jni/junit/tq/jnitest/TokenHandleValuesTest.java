package tq.jnitest;

import static org.junit.Assert.assertEquals;
import static org.junit.Assert.assertFalse;
import static org.junit.Assert.assertTrue;

import java.io.ByteArrayOutputStream;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collection;
import java.util.List;
import java.util.regex.Pattern;

import org.junit.Test;
import org.junit.runner.RunWith;
import org.junit.runners.Parameterized;
import org.junit.runners.Parameterized.Parameters;

/**
 * Each case of HandleCases in a JVM of its own, under the JNI checks, on the run's token: a native that reads a
 * value that is no record of its kind kills that JVM, and the case fails as a crash.
 */
@RunWith(Parameterized.class)
public class TokenHandleValuesTest {
    // What the JVM's JNI checks print, as the runner of every JVM test looks for it.
    private static final Pattern JNI_CHECKS =
        Pattern.compile("(?m)^(WARNING|FATAL ERROR)|WARNING in native method|JNI (DetachCurrentThread|call made)");

    @Parameters(name = "{0}")
    public static Collection<Object[]> cases() {
        List<Object[]> rows = new ArrayList<>();
        for (String name : HandleCases.CASES.keySet()) rows.add(new Object[] {name});
        return rows;
    }

    private final String name;

    public TokenHandleValuesTest(String name) {
        this.name = name;
    }

    @Test
    public void inAJvmOfItsOwn() throws Exception {
        List<String> argv = new ArrayList<>(Arrays.asList(
            "timeout", "300", Paths.get(System.getProperty("java.home"), "bin", "java").toString(), "-Xshare:off",
            "-Xcheck:jni", "-Dtq.library=" + System.getProperty("tq.library"), "-cp",
            System.getProperty("java.class.path"), HandleCases.class.getName()));
        argv.addAll(Arrays.asList(name.split(" ")));
        // The environment goes with it: the token, the fixtures, a sanitizer's runtime.
        Process p = new ProcessBuilder(argv).redirectErrorStream(true).start();
        p.getOutputStream().close();
        ByteArrayOutputStream out = new ByteArrayOutputStream();
        try (InputStream s = p.getInputStream()) {
            s.transferTo(out);
        }
        int status = p.waitFor();
        String text = out.toString(StandardCharsets.UTF_8);
        assertEquals(name + ": the JVM ended with status " + status + "\n" + text, 0, status);
        assertFalse(name + ": the JNI checks reported\n" + text, JNI_CHECKS.matcher(text).find());
        assertTrue(name + "\n" + text, text.contains(HandleCases.PASSED + name));
    }
}
