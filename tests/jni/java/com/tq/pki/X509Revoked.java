package com.tq.pki;

public class X509Revoked {
    public final byte[] serialNumber;
    public final String revocationDate;
    public final int reason;

    public X509Revoked(byte[] serialNumber, String revocationDate, int reason) {
        this.serialNumber = serialNumber;
        this.revocationDate = revocationDate;
        this.reason = reason;
    }
}
