package com.tq.pki;

public class X509SubjectKeyIdentifier {
    public final byte[] value;
    public final boolean critical;

    public X509SubjectKeyIdentifier(byte[] value, boolean critical) {
        this.value = value;
        this.critical = critical;
    }
}
