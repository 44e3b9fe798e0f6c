package com.zandor.retail.orv.mgmt.util;

/**
 * Machine-level actions of the agent, implemented by two native libraries: netinfo (network
 * mask and MAC address of the interface carrying an IPv4 address) and sysactions (halt or
 * reboot through the system's shutdown program).
 */
public final class SystemActions {
    static {
        System.loadLibrary("netinfo");
        System.loadLibrary("sysactions");
    }

    private SystemActions() {
    }

    /**
     * The network mask, in dotted decimal, of the interface whose IPv4 address is exactly
     * {@code address} (dotted decimal, no leading zeros or blanks); "" when no interface has it.
     */
    public static native String getNetworkMask(String address);

    /** The six bytes of that interface's hardware address; an empty array when none has it. */
    public static native byte[] getMACAddress(String address);

    /** Starts "shutdown -h -t 0 now"; the child's pid, 0 when no shutdown program was found. */
    public static native int shutdown();

    /** Starts "shutdown -r -t 0 now"; the child's pid, 0 when no shutdown program was found. */
    public static native int reboot();

    /** Starts "shutdown -r -t DELAY now"; the child's pid, 0 when no shutdown program was found. */
    public static native int reboot(int delay);
}
