package com.tq.pki;

public class X509CRLNumber {
    public final byte[] value;
    public final boolean critical;

    public X509CRLNumber(byte[] value, boolean critical) {
        this.value = value;
        this.critical = critical;
    }
}
