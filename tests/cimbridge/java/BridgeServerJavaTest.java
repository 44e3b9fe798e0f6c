import java.io.IOException;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.time.LocalDateTime;
import java.time.format.DateTimeFormatter;
import java.time.format.DateTimeParseException;
import java.time.temporal.ChronoUnit;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.HashSet;
import java.util.List;
import java.util.Set;
import java.util.concurrent.CountDownLatch;
import java.util.regex.Matcher;
import java.util.regex.Pattern;
import java.lang.management.ManagementFactory;
import java.net.URL;
import java.net.URLClassLoader;
import javax.wbem.cim.CIMDataType;
import javax.wbem.cim.CIMInstance;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMObjectPath;
import javax.wbem.cim.CIMValue;
import javax.wbem.client.CIMImpl;
import javax.wbem.client.CIMIndicationHook;

/**
 * Connections, last errors and the native trace through CIMImpl, with
 * libcimbridge loaded for real.  Run by with_minicimd, which sets
 * CIM_LOCAL_SOCKET and ORV_HOME (with an orvlogs folder) and passes
 * --with-server while minicimd listens there, then --server-gone after it
 * has stopped.  Each run is a fresh JVM, so handles start from 1.
 */
public final class BridgeServerJavaTest {
    private static final Checks checks = new Checks();
    private static final CIMImpl impl = new CIMImpl();
    private static final int RC_FAILED = 0x30000004;
    /** An entry starts with its time stamp: month-day-year hours:minutes:seconds, then ": ". */
    private static final Pattern ENTRY = Pattern.compile("^(\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d): (.*)$");
    private static final DateTimeFormatter STAMP = DateTimeFormatter.ofPattern("MM-dd-yy HH:mm:ss");
    private static final int THREADS = 4;

    private static Path traceFile;
    private static LocalDateTime started;

    private static CIMNameSpace ns(String name) {
        return new CIMNameSpace("", name);
    }

    // ------------------------------------------------------------ the trace file

    /** Everything written to the trace file so far (empty when it does not exist). */
    private static List<String> traceLines() {
        try {
            return Files.exists(traceFile) ? Files.readAllLines(traceFile, StandardCharsets.UTF_8)
                                           : Collections.emptyList();
        } catch (IOException e) {
            checks.check(false, "reading " + traceFile + ": " + e);
            return Collections.emptyList();
        }
    }

    /** The messages of the entries written after the first `from` lines, stamps checked and removed. */
    private static List<String> messagesSince(int from) {
        List<String> lines = traceLines();
        List<String> messages = new ArrayList<>();
        LocalDateTime now = LocalDateTime.now().truncatedTo(ChronoUnit.SECONDS);
        for (String line : lines.subList(Math.min(from, lines.size()), lines.size())) {
            Matcher m = ENTRY.matcher(line);
            if (!m.matches()) {
                checks.check(false, "trace line without its time stamp: <" + line + ">");
                continue;
            }
            try {
                LocalDateTime at = LocalDateTime.parse(m.group(1), STAMP);
                checks.check(!at.isBefore(started) && !at.isAfter(now),
                             "trace stamp " + m.group(1) + " outside this run (" + started + " to " + now + ")");
            } catch (DateTimeParseException e) {
                checks.check(false, "trace stamp that is no date: <" + m.group(1) + ">");
            }
            messages.add(m.group(2));
        }
        return messages;
    }

    // ------------------------------------------------------------ with a server

    private static void identification() {
        checks.same("2.4.6040", impl.getVersion(), "version");
        checks.check(CIMImpl.getImplName() == CIMImpl.IMPL_PEGASUS_TOVA, "implementation name is the field's string");
        String saved = CIMImpl.IMPL_PEGASUS_TOVA;
        CIMImpl.IMPL_PEGASUS_TOVA = "ChangedAtRunTime";
        checks.same("ChangedAtRunTime", CIMImpl.getImplName(), "implementation name read when asked");
        CIMImpl.IMPL_PEGASUS_TOVA = saved;
        checks.same("", impl.getLastError(), "no last error in a new JVM");
    }

    private static void traceSwitchedOn() {
        checks.check(!Files.exists(traceFile), "no trace file while tracing was off: " + traceFile);
        impl.toggleNativeTrace(true);
        checks.same(Arrays.asList("CIM Native Tracing Enabled"), messagesSince(0), "switching on while off");
    }

    private static void handles() {
        int mark = traceLines().size();
        int first = impl.setup(ns("root/cimv2"));
        int second = impl.setup(ns("//somehost/root/cimv2"));
        checks.same(1, first, "first handle");
        checks.same(2, second, "second handle, a distinct one");
        checks.same(0, impl.tearDown(first), "tearDown");
        checks.same(0, impl.tearDown(first), "tearDown of the same handle again");
        checks.same(1, impl.setup(ns("/root/cimv2")), "a freed handle is given out again");
        checks.same(0, impl.tearDown(1), "tearDown of the reused handle");
        checks.same(0, impl.tearDown(second), "tearDown of the second");
        checks.same(0, impl.tearDown(99), "tearDown of a handle never given out");
        checks.same("", impl.getLastError(), "successful calls leave no last error");
        checks.same(Arrays.asList(
                "XXX Setup called", "XXX: Namespace root/cimv2 identified by handle 1",
                "XXX Setup called", "XXX: Namespace root/cimv2 identified by handle 2",
                "tearDown called", "Services not null", "Teardown complete",
                "tearDown called", "Teardown complete",
                "XXX Setup called", "XXX: Namespace root/cimv2 identified by handle 1",
                "tearDown called", "Services not null", "Teardown complete",
                "tearDown called", "Services not null", "Teardown complete",
                "tearDown called", "Teardown complete"),
            messagesSince(mark), "trace of setups and tearDowns");
    }

    private static void rejectedNames() {
        int mark = traceLines().size();
        String bad = "root/with space";
        checks.same(0, impl.setup(ns(bad)), "setup of a namespace the client library rejects");
        String error = impl.getLastError();
        checks.check(error.contains(bad), "the last error names the rejected namespace: <" + error + ">");
        checks.same(Arrays.asList("XXX Setup called", "ERROR: setup had a Exception. Message = " + error),
                    messagesSince(mark), "trace of a rejected namespace");

        // A failed setup uses up no handle.
        int h = impl.setup(ns("root/cimv2"));
        checks.same(1, h, "the handle after a failed setup");
        checks.same(error, impl.getLastError(), "a success does not clear the last error");
        impl.tearDown(h);

        checks.same(0, impl.setup(ns(null)), "setup of a name space without a name");
        checks.check(impl.getLastError().contains("getNameSpace"), "the reason: <" + impl.getLastError() + ">");
        checks.same(0, impl.setup(null), "setup of no name space object");
        checks.check(!impl.getLastError().isEmpty(), "a reason for no name space object");
    }

    /** A name space object whose getNameSpace calls back into the bridge on the same thread. */
    private static final class ReentrantNameSpace extends CIMNameSpace {
        private static final long serialVersionUID = 1L;
        int innerSetup = -1;
        int innerTearDown = -1;
        String innerError;

        ReentrantNameSpace() {
            super("", "root/cimv2");
        }

        @Override
        public String getNameSpace() {
            innerSetup = impl.setup(new CIMNameSpace("", "root/cimv2"));
            innerTearDown = impl.tearDown(1);
            innerError = impl.getLastError();
            return super.getNameSpace();
        }
    }

    /** A name space object whose getNameSpace fails. */
    private static final class ThrowingNameSpace extends CIMNameSpace {
        private static final long serialVersionUID = 1L;

        @Override
        public String getNameSpace() {
            throw new IllegalStateException("no namespace today");
        }
    }

    private static void callbacksIntoTheBridge() {
        ReentrantNameSpace reentrant = new ReentrantNameSpace();
        int h = impl.setup(reentrant);
        checks.same(1, h, "the outer setup goes on");
        checks.same(0, reentrant.innerSetup, "setup from inside setup on the same thread");
        checks.same(RC_FAILED, reentrant.innerTearDown, "tearDown from inside setup on the same thread");
        checks.check(reentrant.innerError != null && reentrant.innerError.contains("already inside"),
                     "the reason for refusing: <" + reentrant.innerError + ">");
        checks.same(0, impl.tearDown(h), "tearDown after the callbacks: the lock was let go");

        // The Java exception reaches the caller of setup; the bridge stays usable.
        boolean thrown = false;
        try {
            impl.setup(new ThrowingNameSpace());
        } catch (IllegalStateException e) {
            thrown = e.getMessage().equals("no namespace today");
        }
        checks.check(thrown, "the exception of getNameSpace reaches the caller of setup");
        int again = impl.setup(ns("root/cimv2"));
        checks.same(1, again, "setup after a failing getNameSpace");
        impl.tearDown(again);
    }

    private static void setupsFromManyThreads() throws InterruptedException {
        int[] got = new int[THREADS];
        CountDownLatch go = new CountDownLatch(1);
        List<Thread> threads = new ArrayList<>();
        for (int i = 0; i < THREADS; i++) {
            final int slot = i;
            Thread t = new Thread(() -> {
                try {
                    go.await();
                } catch (InterruptedException e) {
                    return;
                }
                got[slot] = impl.setup(ns("root/cimv2"));
            });
            threads.add(t);
            t.start();
        }
        go.countDown();
        for (Thread t : threads) {
            t.join();
        }
        Set<Integer> distinct = new HashSet<>();
        for (int h : got) {
            distinct.add(h);
        }
        checks.same(new HashSet<>(Arrays.asList(1, 2, 3, 4)), distinct, "handles of concurrent setups");
        for (int h : got) {
            checks.same(0, impl.tearDown(h), "tearDown of handle " + h);
        }
    }

    private static void lastErrorsPerThread() throws InterruptedException {
        CountDownLatch otherFailed = new CountDownLatch(1);
        CountDownLatch mainFailed = new CountDownLatch(1);
        String[] other = new String[2];
        Thread t = new Thread(() -> {
            impl.setup(ns("other thread/bad"));
            other[0] = impl.getLastError();
            otherFailed.countDown();
            try {
                mainFailed.await();
            } catch (InterruptedException e) {
                return;
            }
            other[1] = impl.getLastError();
        });
        t.start();
        otherFailed.await();
        impl.setup(ns("main thread/bad"));

        // Read while the other thread still runs: the store is keyed by thread
        // identifier, and an ended thread's identifier may be given to a new one.
        String[] fresh = new String[1];
        Thread u = new Thread(() -> fresh[0] = impl.getLastError());
        u.start();
        u.join();
        mainFailed.countDown();
        t.join();

        String mine = impl.getLastError();
        checks.check(other[0] != null && other[0].contains("other thread/bad"), "the other thread's error: " + other[0]);
        checks.same(other[0], other[1], "the other thread's error after this thread failed");
        checks.check(mine.contains("main thread/bad") && !mine.contains("other thread"), "this thread's error: " + mine);
        checks.same("", fresh[0], "a thread that never failed");
    }

    private static void traceSwitchedOff() {
        int mark = traceLines().size();
        impl.toggleNativeTrace(true);
        checks.same(Arrays.asList("toggleNativeTrace called", "CIM Native Tracing Enabled"), messagesSince(mark),
                    "switching on while on");
        mark = traceLines().size();
        impl.toggleNativeTrace(false);
        checks.same(Arrays.asList("toggleNativeTrace called", "CIM Native Tracing Disabled"), messagesSince(mark),
                    "switching off while on");
        mark = traceLines().size();
        impl.toggleNativeTrace(false);
        int h = impl.setup(ns("root/cimv2"));
        impl.tearDown(h);
        checks.same(Collections.emptyList(), messagesSince(mark), "nothing traced while off");
    }

    private static void withServer() throws Exception {
        identification();
        traceSwitchedOn();
        handles();
        rejectedNames();
        callbacksIntoTheBridge();
        setupsFromManyThreads();
        lastErrorsPerThread();
        traceSwitchedOff();
        bridgeFromItsOwnClassLoader();
    }

    // ------------------------------------------------------------ a class loader of its own

    /**
     * The bridge's classes from a URLClassLoader, in a JVM of its own (a library
     * goes with the first loader that loads it), with the jar only there, then
     * on the class path too: an indication reaches the target through a real subscription.
     */
    private static void bridgeFromItsOwnClassLoader() throws Exception {
        String wbemJar = CIMImpl.class.getProtectionDomain().getCodeSource().getLocation().toString();
        String testJar = BridgeServerJavaTest.class.getProtectionDomain().getCodeSource().getLocation().toString();
        String[] classPaths = {testJar, wbemJar + ":" + testJar};
        for (int run = 0; run < classPaths.length; run++) {
            List<String> command = new ArrayList<>(Arrays.asList(Paths.get(System.getProperty("java.home"), "bin", "java").toString(),
                "-Djava.library.path=" + System.getProperty("java.library.path")));
            if (ManagementFactory.getRuntimeMXBean().getInputArguments().contains("-Xcheck:jni")) command.add("-Xcheck:jni");
            command.addAll(Arrays.asList("-cp", classPaths[run].replace("file:", ""), "BridgeServerJavaTest$OwnLoader",
                                         wbemJar, testJar, "own loader " + run));
            checks.same(0, new ProcessBuilder(command).inheritIO().start().waitFor(), "an indication, class path " + classPaths[run]);
        }
    }

    /** The main of that JVM: knows nothing of javax.wbem, so its class path may lack the jar. */
    public static final class OwnLoader {
        public static void main(String[] args) throws Exception {
            try (URLClassLoader loader = new URLClassLoader(new URL[] {new URL(args[0]), new URL(args[1])},
                                                            ClassLoader.getPlatformClassLoader())) {
                Object received = loader.loadClass("BridgeServerJavaTest$OwnLoaderRun").getMethod("run", String.class).invoke(null, args[2]);
                System.out.println("received " + received);
                System.exit(received != null && received.getClass().getClassLoader() == loader ? 0 : 1);
            }
        }
    }

    /** Loaded by that URLClassLoader: subscribes to creations under the name and makes one. */
    public static final class OwnLoaderRun {
        static CIMObjectPath create(CIMImpl impl, int h, String className, Object... properties) {
            CIMInstance inst = new CIMInstance();
            inst.setClassName(className);
            for (int i = 0; i < properties.length; i += 2) {
                boolean ref = properties[i + 1] instanceof CIMObjectPath;
                inst.setProperty((String) properties[i], new CIMValue(properties[i + 1], ref ? new CIMDataType(CIMDataType.REFERENCE) : null));
            }
            CIMObjectPath made = new CIMObjectPath();
            if (impl.createInstance(h, made, new CIMObjectPath(className), inst) != 0) throw new IllegalStateException(impl.getLastError());
            return made;
        }

        public static CIMInstance run(String name) throws Exception {
            CIMImpl.loadLibrary();
            CIMImpl impl = new CIMImpl();
            int interop = impl.setup(new CIMNameSpace("", "root/interop"));
            IndicationTarget target = new IndicationTarget();
            if (CIMIndicationHook.attachListener(interop, target, 0) == 0) throw new IllegalStateException("no listener");
            CIMObjectPath filter = create(impl, interop, "CIM_IndicationFilter", "Name", name,
                                          "Query", "SELECT * FROM CIM_InstCreation", "QueryLanguage", "WQL");
            CIMObjectPath handler = create(impl, interop, "CIM_ListenerDestinationCIMXML", "Name", name,
                                           "Destination", CIMIndicationHook.destination(interop));
            CIMObjectPath subscription = create(impl, interop, "CIM_IndicationSubscription", "Filter", filter, "Handler", handler);
            create(impl, impl.setup(new CIMNameSpace("", "root/cimv2")), "Test_Base", "Name", name);
            CIMInstance received = target.await(1, 60_000) ? target.get(0) : null;
            impl.deleteInstance(interop, subscription);
            return received;
        }
    }

    // ------------------------------------------------------------ after the server stopped

    private static void serverGone() {
        String socket = System.getenv("CIM_LOCAL_SOCKET");
        List<String> before = traceLines();
        checks.check(before.stream().anyMatch(l -> l.endsWith(": CIM Native Tracing Disabled")),
                     "the trace file keeps the earlier run's entries");
        impl.toggleNativeTrace(true);
        int mark = before.size();

        checks.same(0, impl.setup(ns("root/cimv2")), "setup without a server");
        String error = impl.getLastError();
        checks.check(error.contains(socket), "the last error names the socket <" + socket + ">: <" + error + ">");
        checks.same(0, impl.setup(ns("root/cimv2")), "setup without a server, again");
        checks.same(0, impl.tearDown(1), "tearDown of a handle never given out");
        impl.toggleNativeTrace(false);
        checks.same(Arrays.asList(
                "CIM Native Tracing Enabled",
                "XXX Setup called", "ERROR: setup had a Exception. Message = " + error,
                "XXX Setup called", "ERROR: setup had a Exception. Message = " + error,
                "tearDown called", "Teardown complete",
                "toggleNativeTrace called", "CIM Native Tracing Disabled"),
            messagesSince(mark), "trace without a server");
    }

    public static void main(String[] args) throws Exception {
        String home = System.getenv("ORV_HOME");
        String socket = System.getenv("CIM_LOCAL_SOCKET");
        if (home == null || socket == null || args.length != 1) {
            System.err.println("usage (ORV_HOME and CIM_LOCAL_SOCKET set): BridgeServerJavaTest --with-server|--server-gone");
            System.exit(2);
        }
        traceFile = Paths.get(home, "orvlogs", "brevincimtrc.log");
        started = LocalDateTime.now().truncatedTo(ChronoUnit.SECONDS);
        CIMImpl.loadLibrary();
        switch (args[0]) {
        case "--with-server":
            withServer();
            break;
        case "--server-gone":
            serverGone();
            break;
        default:
            System.err.println("unknown mode " + args[0]);
            System.exit(2);
        }
        checks.finish();
    }
}
