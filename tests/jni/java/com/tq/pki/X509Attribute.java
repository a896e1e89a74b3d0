package com.tq.pki;

public class X509Attribute {
    public final String name;
    public final Object value;

    public X509Attribute(String name, Object value) {
        this.name = name;
        this.value = value;
    }
}
