import java.util.Arrays;
import javax.wbem.cim.CIMInstance;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMProperty;
import javax.wbem.client.CIMImpl;
import javax.wbem.client.CIMIndicationHook;

/**
 * The bridge's indication consumer: a listener on a connection to the server
 * CIM_LOCAL_SOCKET names, fed by bridge_bench's plain sender.  Prints
 * "listening PORT PATH" (PATH: its destination path) once the listener is up,
 * then, when all have arrived (or the wait ran out), "indications RATE P50 P99 COUNT": indications per
 * second into Java between the first and the last, and the delay from the
 * sender's stamp (SentAt, the monotonic clock in nanoseconds) to
 * forwardIndication, in microseconds.  Arguments: count.
 */
public final class IndicationBench {
    private static final String NS = "root/cimv2";
    private static final long WAIT_MILLIS = 300_000;
    private static final double NANOS_PER_MICRO = 1_000.0;
    private static final double NANOS_PER_SECOND = 1_000_000_000.0;
    private static final double P50 = 0.50;
    private static final double P99 = 0.99;

    private IndicationBench() {
    }

    /** Records when each indication reached Java and how long it took. */
    public static final class Receiver {
        private final long[] delays;
        private int count;
        private long first;
        private long last;

        Receiver(int expected) {
            delays = new long[expected];
        }

        public synchronized void forwardIndication(boolean flag, CIMInstance indication) {
            long now = System.nanoTime();
            CIMProperty sentAt = indication.getProperty("SentAt");
            if (count == delays.length || sentAt == null || sentAt.getValue() == null) {
                return;
            }
            delays[count] = now - ((Number) sentAt.getValue().getValue()).longValue();
            if (count == 0) {
                first = now;
            }
            last = now;
            count++;
            // Only the last one wakes the waiting main thread: a wake-up per
            // indication would be this harness's cost, not the bridge's.
            if (count == delays.length) {
                notifyAll();
            }
        }

        synchronized boolean await(long millis) throws InterruptedException {
            long end = System.currentTimeMillis() + millis;
            while (count < delays.length) {
                long left = end - System.currentTimeMillis();
                if (left <= 0) {
                    return false;
                }
                wait(left);
            }
            return true;
        }

        synchronized String figures() {
            long[] sorted = Arrays.copyOf(delays, count);
            Arrays.sort(sorted);
            double rate = count > 1 ? (count - 1) * NANOS_PER_SECOND / (last - first) : 0;
            return String.format("indications %.1f %.1f %.1f %d", rate, percentile(sorted, P50),
                                 percentile(sorted, P99), count);
        }

        private static double percentile(long[] sorted, double p) {
            if (sorted.length == 0) {
                return 0;
            }
            int i = Math.min(sorted.length - 1, (int) Math.ceil(p * sorted.length) - 1);
            return sorted[Math.max(i, 0)] / NANOS_PER_MICRO;
        }
    }

    public static void main(String[] args) throws InterruptedException {
        int expected = Integer.parseInt(args[0]);
        CIMImpl.loadLibrary();
        CIMImpl impl = new CIMImpl();
        int handle = impl.setup(new CIMNameSpace("", NS));
        if (handle <= 0) {
            throw new IllegalStateException("setup: " + impl.getLastError());
        }
        Receiver receiver = new Receiver(expected);
        int port = CIMIndicationHook.attachListener(handle, receiver, 0);
        if (port <= 0) {
            throw new IllegalStateException("no listener");
        }
        String url = CIMIndicationHook.destination(handle);
        System.out.println("listening " + port + " " + url.substring(url.indexOf('/', "http://".length())));
        System.out.flush();
        receiver.await(WAIT_MILLIS);
        System.out.println(receiver.figures());
        System.out.flush();
        impl.tearDown(handle);
    }
}
