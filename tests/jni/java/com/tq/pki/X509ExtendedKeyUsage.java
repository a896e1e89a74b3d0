package com.tq.pki;

public class X509ExtendedKeyUsage {
    public final byte[] value;
    public final boolean critical;

    public X509ExtendedKeyUsage(byte[] value, boolean critical) {
        this.value = value;
        this.critical = critical;
    }
}
