package com.tq.pki;

public class X509GeneralName {
    public final X509Attribute[] attributes;

    public X509GeneralName(X509Attribute[] attributes) {
        this.attributes = attributes;
    }
}
