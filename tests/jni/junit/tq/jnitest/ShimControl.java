package tq.jnitest;

/** The shim module's settings and observations, from the library the shim shares its state with. */
public final class ShimControl {
    static {
        System.load(System.getenv("TQ_SHIM_CONTROL"));
    }

    private ShimControl() {}

    /** The shim's path: it forwards to the SoftHSM2 module of the run and emulates the vendor login steps. */
    public static String module() {
        return System.getenv("TQ_SHIM_MODULE");
    }

    public static native void reset();

    /** PIN parts the shim's next login in several steps asks for. */
    public static native void setLoginParts(long parts);

    /** The shim answers rv to the next call of the function. */
    public static native void inject(String function, long rv);

    public static native int calls(String function);
}
