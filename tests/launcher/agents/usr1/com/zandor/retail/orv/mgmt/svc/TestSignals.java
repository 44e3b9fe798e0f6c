package com.zandor.retail.orv.mgmt.svc;

/** Natives of the test-only library orvtestusr1. */
final class TestSignals {
    private TestSignals() {
    }

    /** Installs a SIGUSR1 handler (flags 0) that appends a line to markerFile per signal. */
    static native void installUsr1Handler(String markerFile);
}
