import com.zandor.retail.orv.mgmt.util.SystemActions;

import java.net.InetAddress;
import java.net.InterfaceAddress;
import java.net.NetworkInterface;

/**
 * Per-call cost of SystemActions.getNetworkMask next to java.net.NetworkInterface finding the
 * prefix length of the same address.  Arguments: [address] [calls].
 */
public final class NetinfoBench {
    private static final int WARMUP_CALLS = 2_000;

    private NetinfoBench() {
    }

    private static int prefixLength(InetAddress address) throws Exception {
        NetworkInterface ni = NetworkInterface.getByInetAddress(address);
        if (ni == null) {
            return -1;
        }
        for (InterfaceAddress ia : ni.getInterfaceAddresses()) {
            if (ia.getAddress().equals(address)) {
                return ia.getNetworkPrefixLength();
            }
        }
        return -1;
    }

    public static void main(String[] args) throws Exception {
        String text = args.length > 0 ? args[0] : "127.0.0.1";
        int calls = args.length > 1 ? Integer.parseInt(args[1]) : 20_000;
        InetAddress address = InetAddress.getByName(text);

        String mask = "";
        int prefix = -1;
        for (int i = 0; i < WARMUP_CALLS; i++) {
            mask = SystemActions.getNetworkMask(text);
            prefix = prefixLength(address);
        }

        long t0 = System.nanoTime();
        for (int i = 0; i < calls; i++) {
            mask = SystemActions.getNetworkMask(text);
        }
        long nativeNs = System.nanoTime() - t0;

        t0 = System.nanoTime();
        for (int i = 0; i < calls; i++) {
            prefix = prefixLength(address);
        }
        long javaNs = System.nanoTime() - t0;

        double nativePerCall = (double) nativeNs / calls;
        double javaPerCall = (double) javaNs / calls;
        int interfaces = java.util.Collections.list(NetworkInterface.getNetworkInterfaces()).size();
        System.out.printf("netinfo benchmark: address %s (mask %s, prefix /%d), %d interfaces, %d calls%n",
                text, mask, prefix, interfaces, calls);
        System.out.printf("  getNetworkMask                     %10.1f us/call%n", nativePerCall / 1000);
        System.out.printf("  NetworkInterface prefix length     %10.1f us/call%n", javaPerCall / 1000);
        System.out.printf("  ratio getNetworkMask / NetworkInterface: %.3f%n", nativePerCall / javaPerCall);
        // Machine-readable: name|value|unit|reference name|reference value.
        System.out.printf(java.util.Locale.ROOT, "FIGURE netinfo getNetworkMask(%s)|%.2f|us/call|NetworkInterface prefix length|%.2f%n",
                text, nativePerCall / 1000, javaPerCall / 1000);
    }
}
