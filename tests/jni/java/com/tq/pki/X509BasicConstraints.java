package com.tq.pki;

public class X509BasicConstraints {
    public final boolean ca;
    public final int pathLength;
    public final boolean critical;

    public X509BasicConstraints(boolean ca, boolean critical) {
        this(ca, -1, critical);
    }

    public X509BasicConstraints(boolean ca, int pathLength, boolean critical) {
        this.ca = ca;
        this.pathLength = pathLength;
        this.critical = critical;
    }
}
