import java.util.ArrayList;
import java.util.List;
import java.io.BufferedReader;
import java.io.InputStreamReader;
import java.nio.charset.StandardCharsets;
import javax.wbem.cim.CIMInstance;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMProperty;
import javax.wbem.client.CIMImpl;
import javax.wbem.client.CIMIndicationHook;

/**
 * The Java end of indications_bench: a bridge connection to root/interop with
 * an indication listener whose target records when each indication arrives.
 * Prints "destination URL" once listening, then reads "expect N" and, once N have come
 * or none came for the quiet time, prints one line per arrival
 * "identifier filter-name nanoTime" (System.nanoTime, the same monotonic clock
 * as the C++ side's steady_clock) and "end".
 */
public final class IndicationsBench {
    private static final long QUIET_NANOS = 30_000_000_000L;

    /** Receives the indications, as an agent's handler does. */
    public static final class Target {
        private final List<String> arrivals = new ArrayList<>();

        public void forwardIndication(boolean flag, CIMInstance indication) {
            long now = System.nanoTime();
            String line = text(indication, "IndicationIdentifier") + " " + text(indication, "IndicationFilterName") + " "
                          + now;
            synchronized (this) {
                arrivals.add(line);
                notifyAll();
            }
        }

        private static String text(CIMInstance indication, String name) {
            CIMProperty p = indication.getProperty(name);
            Object v = p == null || p.getValue() == null ? null : p.getValue().getValue();
            return v == null ? "-" : v.toString();
        }

        synchronized List<String> awaitCount(int n) throws InterruptedException {
            int seen = arrivals.size();
            long quietSince = System.nanoTime();
            while (arrivals.size() < n && System.nanoTime() - quietSince < QUIET_NANOS) {
                wait(100);
                if (arrivals.size() != seen) {
                    seen = arrivals.size();
                    quietSince = System.nanoTime();
                }
            }
            return new ArrayList<>(arrivals);
        }
    }

    private IndicationsBench() {
    }

    public static void main(String[] args) throws Exception {
        CIMImpl.loadLibrary();
        CIMImpl impl = new CIMImpl();
        int handle = impl.setup(new CIMNameSpace("", "root/interop"));
        if (handle <= 0) {
            throw new IllegalStateException("setup: " + impl.getLastError());
        }
        Target target = new Target();
        int port = CIMIndicationHook.attachListener(handle, target, 0);
        if (port <= 0) {
            throw new IllegalStateException("no listener");
        }
        System.out.println("destination " + CIMIndicationHook.destination(handle));
        System.out.flush();
        BufferedReader in = new BufferedReader(new InputStreamReader(System.in, StandardCharsets.UTF_8));
        String line = in.readLine();
        if (line == null || !line.startsWith("expect ")) {
            throw new IllegalStateException("expected 'expect N', got " + line);
        }
        List<String> got = target.awaitCount(Integer.parseInt(line.substring(7).trim()));
        StringBuilder out = new StringBuilder();
        for (String a : got) {
            out.append(a).append('\n');
        }
        out.append("end\n");
        System.out.print(out);
        System.out.flush();
        impl.tearDown(handle);
    }
}
