package com.tq.pki;

public class X509CRLDistributionPoints {
    public final X509GeneralName fullName;
    public final boolean critical;

    public X509CRLDistributionPoints(X509GeneralName fullName, boolean critical) {
        this.fullName = fullName;
        this.critical = critical;
    }
}
