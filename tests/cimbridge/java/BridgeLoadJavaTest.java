import java.util.ArrayList;
import java.util.HashMap;
import java.util.List;
import java.util.Map;
import java.util.Vector;
import java.util.concurrent.atomic.AtomicLong;
import javax.wbem.cim.CIMArgument;
import javax.wbem.cim.CIMDataType;
import javax.wbem.cim.CIMInstance;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMObjectPath;
import javax.wbem.cim.CIMValue;
import javax.wbem.cim.UnsignedInt32;
import javax.wbem.client.CIMImpl;

/**
 * Many threads on a few connections, mixed reads, writes and method calls
 * against minicimd (run by with_minicimd): every status and last error right,
 * the final repository what the operations imply, the heap bounded.
 */
public final class BridgeLoadJavaTest {
    private static final Checks checks = new Checks();
    private static final CIMImpl impl = new CIMImpl();
    private static final String NS = "root/cimv2";
    private static final int THREADS = 16;
    private static final int CONNECTIONS = 4;
    private static final int OPERATIONS = 20000;
    private static final int RC_NOT_FOUND = 0x30000009;
    private static final long HEAP_LIMIT = 256L << 20;  // far above what the run needs

    private static CIMValue typed(Object o, int t) { return new CIMValue(o, new CIMDataType(t)); }

    private static CIMObjectPath item(String id) {
        CIMObjectPath p = new CIMObjectPath("Bridge_Item");
        p.addKey("Id", typed(id, CIMDataType.STRING));
        return p;
    }

    private static CIMObjectPath methods() {
        CIMObjectPath p = new CIMObjectPath("Test_Methods");
        p.addKey("Name", typed("m", CIMDataType.STRING));
        return p;
    }

    /** Keeps the one completion of an invokeMethod. */
    public static final class Listener {
        int code = -1;
        CIMValue result;
        public void methodCallCompleted(int c, CIMValue r, CIMArgument[] outputs, String unused) {
            code = c;
            result = r;
        }
    }

    /** One thread's share: its own instances, whose expected values it keeps. */
    static final class Worker implements Runnable {
        final int index;
        final int handle;
        final int operations;
        final Map<String, Long> live = new HashMap<>();
        final List<String> wrong = new ArrayList<>();
        int next;

        Worker(int index, int handle, int operations) {
            this.index = index;
            this.handle = handle;
            this.operations = operations;
        }

        private void expect(boolean ok, String what) {
            if (!ok && wrong.size() < 20) wrong.add("thread " + index + ": " + what + " (last error " + impl.getLastError() + ")");
        }

        private String anyLive(int i) {
            if (live.isEmpty()) return null;
            List<String> ids = new ArrayList<>(live.keySet());
            return ids.get(i % ids.size());
        }

        @Override public void run() {
            for (int i = 0; i < operations; i++) {
                String id = anyLive(i);
                switch (i % 8) {
                    case 0: {
                        String fresh = "load-" + index + "-" + (next++);
                        CIMInstance inst = new CIMInstance();
                        inst.setClassName("Bridge_Item");
                        inst.setProperty("Id", typed(fresh, CIMDataType.STRING));
                        inst.setProperty("U32", typed(new UnsignedInt32(i), CIMDataType.UINT32));
                        int rc = impl.createInstance(handle, new CIMObjectPath(), item(fresh), inst);
                        expect(rc == 0, "createInstance " + fresh + " gave " + rc);
                        if (rc == 0) live.put(fresh, (long) i);
                        break;
                    }
                    case 1:
                    case 4:
                        if (id == null) break;
                        expect(impl.setProperty(handle, item(id), "U32", typed(new UnsignedInt32(i), CIMDataType.UINT32)) == 0,
                               "setProperty " + id);
                        live.put(id, (long) i);
                        break;
                    case 2: {
                        if (id == null) break;
                        CIMValue v = new CIMValue(null);
                        int rc = impl.getProperty(handle, v, item(id), "U32");
                        expect(rc == 0 && live.get(id).equals(v.getValue()), "getProperty " + id + " gave " + rc + ", " + v.getValue());
                        break;
                    }
                    case 3: {
                        Listener l = new Listener();
                        String text = "echo " + index + " " + i;
                        CIMArgument[] args = {new CIMArgument("Text", typed(text, CIMDataType.STRING))};
                        int rc = impl.invokeMethod(handle, methods(), "Echo", args, l);
                        expect(rc == 0 && l.code == 0 && l.result != null && text.equals(l.result.getValue()), "Echo gave " + rc);
                        break;
                    }
                    case 5: {
                        // A failure of this thread's own: its text, not another thread's.
                        Listener l = new Listener();
                        String message = "refused " + index + " " + i;
                        CIMArgument[] args = {new CIMArgument("Code", typed(new UnsignedInt32(6), CIMDataType.UINT32)),
                                              new CIMArgument("Message", typed(message, CIMDataType.STRING))};
                        int rc = impl.invokeMethod(handle, methods(), "Fail", args, l);
                        expect(rc == RC_NOT_FOUND && l.code == RC_NOT_FOUND, "Fail gave " + rc);
                        expect(impl.getLastError().contains(message), "last error of Fail " + i);
                        break;
                    }
                    case 6: {
                        if (id == null) break;
                        CIMInstance inst = new CIMInstance();
                        int rc = impl.getInstance(handle, inst, item(id));
                        Object u32 = inst.getProperty("U32") == null ? null : inst.getProperty("U32").getValue().getValue();
                        expect(rc == 0 && live.get(id).equals(u32), "getInstance " + id + " gave " + rc + ", " + u32);
                        break;
                    }
                    default:
                        // Every third round deletes one; the rest stay for the final count.
                        if (id == null || (i / 8) % 3 != 0) break;
                        expect(impl.deleteInstance(handle, item(id)) == 0, "deleteInstance " + id);
                        live.remove(id);
                        int rc = impl.getInstance(handle, new CIMInstance(), item(id));
                        expect(rc == RC_NOT_FOUND, "deleted " + id + " still read, " + rc);
                        break;
                }
            }
        }
    }

    public static void main(String[] args) throws Exception {
        CIMImpl.loadLibrary();
        if (!(args.length == 1 && args[0].equals("--with-server"))) {
            checks.finish();
            return;
        }
        int[] handles = new int[CONNECTIONS];
        for (int c = 0; c < CONNECTIONS; c++) {
            handles[c] = impl.setup(new CIMNameSpace("", NS));
            checks.check(handles[c] > 0, "setup " + c + ": " + impl.getLastError());
        }
        Runtime rt = Runtime.getRuntime();
        AtomicLong peak = new AtomicLong();
        Thread sampler = new Thread(() -> {
            while (!Thread.currentThread().isInterrupted()) {
                peak.accumulateAndGet(rt.totalMemory() - rt.freeMemory(), Math::max);
                try { Thread.sleep(20); } catch (InterruptedException e) { return; }
            }
        });
        sampler.setDaemon(true);
        sampler.start();

        List<Worker> workers = new ArrayList<>();
        List<Thread> threads = new ArrayList<>();
        long start = System.nanoTime();
        for (int t = 0; t < THREADS; t++) {
            Worker w = new Worker(t, handles[t % CONNECTIONS], OPERATIONS / THREADS);
            workers.add(w);
            threads.add(new Thread(w, "load-" + t));
        }
        for (Thread t : threads) t.start();
        for (Thread t : threads) t.join();
        double seconds = (System.nanoTime() - start) / 1e9;
        sampler.interrupt();
        sampler.join();

        Map<String, Long> expected = new HashMap<>();
        for (Worker w : workers) {
            for (String s : w.wrong) checks.check(false, s);
            expected.putAll(w.live);
        }
        // The repository holds exactly the instances the threads left, with their last values.
        Vector<Object> paths = new Vector<>();
        checks.same(0, impl.enumerateInstanceNames(handles[0], paths, new CIMObjectPath("Bridge_Item")), "enumerate");
        int found = 0;
        for (Object o : paths) {
            Object key = ((CIMObjectPath) o).getKey("Id").getValue().getValue();
            if (!((String) key).startsWith("load-")) continue;
            found++;
            CIMValue v = new CIMValue(null);
            impl.getProperty(handles[0], v, item((String) key), "U32");
            checks.same(expected.get(key), v.getValue(), "final U32 of " + key);
        }
        checks.same(expected.size(), found, "instances left by the threads");
        for (int h : handles) impl.tearDown(h);

        System.gc();
        long after = rt.totalMemory() - rt.freeMemory();
        System.out.printf("FIGURE load: %d operations, %d threads, %d connections, %.1f s, %.0f ops/s, "
                          + "peak heap %.1f MiB, heap after GC %.1f MiB%n", OPERATIONS, THREADS, CONNECTIONS, seconds,
                          OPERATIONS / seconds, peak.get() / 1048576.0, after / 1048576.0);
        checks.check(peak.get() < HEAP_LIMIT, "peak heap " + peak.get());
        checks.finish();
    }
}
