package com.tq.pki;

public class X509AuthorityKeyIdentifier {
    public final byte[] keyIdentifier;
    public final X509GeneralName issuer;
    public final String serialNumber;
    public final boolean critical;

    public X509AuthorityKeyIdentifier(byte[] keyIdentifier, X509GeneralName issuer, String serialNumber,
                                      boolean critical) {
        this.keyIdentifier = keyIdentifier;
        this.issuer = issuer;
        this.serialNumber = serialNumber;
        this.critical = critical;
    }
}
