package com.tq.pki;

public class X509KeyUsage {
    public final byte[] value;
    public final boolean critical;

    public X509KeyUsage(byte[] value, boolean critical) {
        this.value = value;
        this.critical = critical;
    }
}
