package com.tq.pki;

public class X509Name {
    public final X509Attribute[] attributes;

    public X509Name(X509Attribute[] attributes) {
        this.attributes = attributes;
    }
}
