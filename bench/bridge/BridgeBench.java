import java.util.Arrays;
import java.util.Vector;
import javax.wbem.cim.CIMDataType;
import javax.wbem.cim.CIMInstance;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMObjectPath;
import javax.wbem.cim.CIMValue;
import javax.wbem.cim.UnsignedInt32;
import javax.wbem.client.CIMImpl;

/**
 * Per-call cost of CIMImpl.getInstance and CIMImpl.enumerateInstanceNames on
 * Perf_Item against the server CIM_LOCAL_SOCKET names.  Run by bridge_bench,
 * which reads what it prints: per operation "name microseconds count", the
 * median over the repetitions and the properties or names it got.
 * Arguments: id instance-calls name-calls repetitions.
 */
public final class BridgeBench {
    private static final String NS = "root/cimv2";
    private static final String CLASS = "Perf_Item";
    // Enough calls for the JIT to have compiled the Java side of the natives.
    private static final int WARMUP_INSTANCE_CALLS = 2_000;
    private static final int WARMUP_NAME_CALLS = 10;

    private static final CIMImpl impl = new CIMImpl();

    private BridgeBench() {
    }

    private interface Call {
        int run();
    }

    private static int check(int rc, String what) {
        if (rc != CIMImpl.RC_OK) {
            throw new IllegalStateException(what + ": " + impl.getLastError());
        }
        return rc;
    }

    /** Median over the repetitions of the time per call, in microseconds. */
    private static double median(Call call, int calls, int repetitions) {
        double[] perCall = new double[repetitions];
        for (int r = 0; r < repetitions; r++) {
            long t0 = System.nanoTime();
            for (int i = 0; i < calls; i++) {
                call.run();
            }
            perCall[r] = (System.nanoTime() - t0) / 1000.0 / calls;
        }
        Arrays.sort(perCall);
        return perCall[repetitions / 2];
    }

    public static void main(String[] args) {
        long id = Long.parseLong(args[0]);
        int instanceCalls = Integer.parseInt(args[1]);
        int nameCalls = Integer.parseInt(args[2]);
        int repetitions = Integer.parseInt(args[3]);

        CIMImpl.loadLibrary();
        int handle = impl.setup(new CIMNameSpace("", NS));
        if (handle <= 0) {
            throw new IllegalStateException("setup: " + impl.getLastError());
        }
        CIMObjectPath path = new CIMObjectPath(CLASS);
        path.addKey("Id", new CIMValue(new UnsignedInt32(id), new CIMDataType(CIMDataType.UINT32)));
        CIMObjectPath className = new CIMObjectPath();
        className.setObjectName(CLASS);

        Call getInstance = () -> check(impl.getInstance(handle, new CIMInstance(), path), "getInstance");
        Call enumerate = () -> check(impl.enumerateInstanceNames(handle, new Vector<Object>(), className),
                                     "enumerateInstanceNames");
        for (int i = 0; i < WARMUP_INSTANCE_CALLS; i++) {
            getInstance.run();
        }
        for (int i = 0; i < WARMUP_NAME_CALLS; i++) {
            enumerate.run();
        }

        CIMInstance instance = new CIMInstance();
        check(impl.getInstance(handle, instance, path), "getInstance");
        Vector<Object> names = new Vector<>();
        check(impl.enumerateInstanceNames(handle, names, className), "enumerateInstanceNames");

        System.out.printf("getInstance %.1f %d%n", median(getInstance, instanceCalls, repetitions),
                          instance.getProperties().size());
        System.out.printf("enumerateInstanceNames %.1f %d%n", median(enumerate, nameCalls, repetitions),
                          names.size());
        impl.tearDown(handle);
    }
}
