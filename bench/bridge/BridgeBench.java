import java.io.BufferedReader;
import java.io.IOException;
import java.io.InputStreamReader;
import java.lang.management.ManagementFactory;
import java.lang.management.ThreadMXBean;
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
 * which reads what it prints: per operation "name microseconds count cpu", the
 * median over the repetitions of the time per call, the properties or names it
 * got, and the median of this thread's CPU time per call (the bridge and the
 * client library; not the server's), which a busy machine disturbs less.
 * Each repetition takes its turn with the bare client's: this side prints
 * "ready" and starts it when a line comes on standard input, so the machine's
 * slow and fast spells fall on both sides alike.
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

    private static final ThreadMXBean threads = ManagementFactory.getThreadMXBean();

    /**
     * Medians over the repetitions of the time and of this thread's CPU time
     * per call, in microseconds: "wall cpu".
     */
    private static double[] median(Call call, int calls, int repetitions, BufferedReader turns)
            throws IOException {
        double[] perCall = new double[repetitions];
        double[] cpuPerCall = new double[repetitions];
        for (int r = 0; r < repetitions; r++) {
            System.out.println("ready");
            System.out.flush();
            if (turns.readLine() == null) {
                throw new IllegalStateException("the bare side went away");
            }
            long cpu0 = threads.getCurrentThreadCpuTime();
            long t0 = System.nanoTime();
            for (int i = 0; i < calls; i++) {
                call.run();
            }
            perCall[r] = (System.nanoTime() - t0) / 1000.0 / calls;
            cpuPerCall[r] = (threads.getCurrentThreadCpuTime() - cpu0) / 1000.0 / calls;
        }
        Arrays.sort(perCall);
        Arrays.sort(cpuPerCall);
        return new double[] {perCall[repetitions / 2], cpuPerCall[repetitions / 2]};
    }

    public static void main(String[] args) throws IOException {
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

        BufferedReader turns = new BufferedReader(new InputStreamReader(System.in));
        double[] instanceTimes = median(getInstance, instanceCalls, repetitions, turns);
        System.out.printf("getInstance %.1f %d %.1f%n", instanceTimes[0], instance.getProperties().size(),
                          instanceTimes[1]);
        double[] nameTimes = median(enumerate, nameCalls, repetitions, turns);
        System.out.printf("enumerateInstanceNames %.1f %d %.1f%n", nameTimes[0], names.size(), nameTimes[1]);
        impl.tearDown(handle);
    }
}
