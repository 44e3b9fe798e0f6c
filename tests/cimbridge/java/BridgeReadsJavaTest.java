import java.io.IOException;
import java.nio.charset.Charset;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.Collections;
import java.util.List;
import java.util.Vector;
import java.util.concurrent.atomic.AtomicInteger;
import javax.wbem.cim.CIMClass;
import javax.wbem.cim.CIMDataType;
import javax.wbem.cim.CIMDateTime;
import javax.wbem.cim.CIMInstance;
import javax.wbem.cim.CIMMethod;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMObjectPath;
import javax.wbem.cim.CIMParameter;
import javax.wbem.cim.CIMProperty;
import javax.wbem.cim.CIMValue;
import javax.wbem.cim.UnsignedInt32;
import javax.wbem.client.CIMImpl;

/**
 * The reading natives through CIMImpl against minicimd with the test schema
 * and bridge-test.mof loaded (run by with_minicimd).  The expected values are
 * those of bridge-test.mof.
 */
public final class BridgeReadsJavaTest {
    private static final Checks checks = new Checks();
    private static final CIMImpl impl = new CIMImpl();
    private static final String NS = "root/cimv2";
    private static final int RC_NOT_FOUND = 0x30000009;
    private static final String TRICKY_BETA = "a,b\"c\\d='e'";
    private static final String TRICKY_ALPHA = "caf\u00e9 \ud834\udd1e";
    private static final int THREADS = 8;
    private static final int READS_PER_THREAD = 500;

    private static CIMDataType type(int t) { return new CIMDataType(t); }

    /** A typed value, as a caller who sets types makes it. */
    private static CIMValue typed(Object o, int t) { return new CIMValue(o, type(t)); }

    private static CIMObjectPath typesPath(String beta, long gamma, String alpha) {
        CIMObjectPath p = new CIMObjectPath("Bridge_Types");
        p.addKey("Beta", typed(beta, CIMDataType.STRING));
        p.addKey("Gamma", typed(new UnsignedInt32(gamma), CIMDataType.UINT32));
        p.addKey("alpha", typed(alpha, CIMDataType.STRING));
        return p;
    }

    private static CIMObjectPath className(String name) {
        CIMObjectPath p = new CIMObjectPath();
        p.setObjectName(name);
        return p;
    }

    private static int connect() {
        int handle = impl.setup(new CIMNameSpace("", NS));
        checks.check(handle > 0, "setup: " + impl.getLastError());
        return handle;
    }

    private static List<String> names(Vector<?> items) {
        List<String> out = new ArrayList<>();
        for (Object o : items) {
            out.add(o instanceof CIMProperty ? ((CIMProperty) o).getName()
                    : o instanceof CIMMethod ? ((CIMMethod) o).getName()
                    : o instanceof CIMParameter ? ((CIMParameter) o).getName()
                    : ((CIMObjectPath) o).getObjectName());
        }
        return out;
    }

    private static CIMProperty property(Vector<?> properties, String name) {
        for (Object o : properties) {
            if (((CIMProperty) o).getName().equals(name)) {
                return (CIMProperty) o;
            }
        }
        checks.check(false, "no property " + name);
        return new CIMProperty(name);
    }

    /** Type number and Java value of one property. */
    private static void expect(Vector<?> properties, String name, int typeNumber, Object value) {
        CIMProperty p = property(properties, name);
        checks.same(type(typeNumber), p.getType(), name + " type");
        Object actual = p.getValue() == null ? null : p.getValue().getValue();
        checks.same(value, actual, name + " value");
        if (p.getValue() != null) {
            checks.same(type(typeNumber), p.getValue().getType(), name + " value type");
        }
    }

    private static Vector<Object> vector(Object... items) { return new Vector<>(Arrays.asList(items)); }

    // ------------------------------------------------------------ getInstance

    private static void instanceOfEveryType(int h) {
        CIMInstance inst = new CIMInstance();
        checks.same(0, impl.getInstance(h, inst, typesPath("b", 1, "a")), "getInstance " + impl.getLastError());
        Vector<?> props = inst.getProperties();
        List<String> got = names(props);
        checks.same(Arrays.asList("Beta", "Gamma", "alpha"), got.subList(0, Math.min(3, got.size())), "keys first");
        List<String> others = new ArrayList<>(got.subList(Math.min(3, got.size()), got.size()));
        List<String> sorted = new ArrayList<>(others);
        Collections.sort(sorted);
        checks.same(sorted, others, "the others in byte order");
        checks.check(others.contains("Ref") && others.contains("NullArray"), "every property comes: " + others);
        for (Object o : props) {
            CIMProperty p = (CIMProperty) o;
            checks.same(got.indexOf(p.getName()) < 3, p.isKey(), p.getName() + " key flag");
            checks.same("Bridge_Types", p.getOriginClass(), p.getName() + " origin");
        }
        checks.same("Bridge_Types", inst.getClassName(), "class name");
        checks.same(NS, inst.getObjectPath().getNameSpace(), "path namespace");
        checks.same("b", inst.getObjectPath().getKey("Beta").getValue().getValue(), "path key");

        // Instances widen the unsigned types to the next signed one.
        expect(props, "B", CIMDataType.BOOLEAN, Boolean.TRUE);
        expect(props, "U8", CIMDataType.SINT16, (short) 200);
        expect(props, "S8", CIMDataType.SINT8, (byte) -1);
        expect(props, "U16", CIMDataType.SINT32, 65535);
        expect(props, "S16", CIMDataType.SINT16, (short) -32768);
        expect(props, "U32", CIMDataType.SINT64, 4294967295L);
        expect(props, "S32", CIMDataType.SINT32, Integer.MIN_VALUE);
        expect(props, "U64", CIMDataType.SINT64, -1L);
        expect(props, "S64", CIMDataType.SINT64, Long.MIN_VALUE);
        expect(props, "R32", CIMDataType.REAL32, 1.5f);
        expect(props, "R64", CIMDataType.REAL64, -0.25);
        expect(props, "C16", CIMDataType.CHAR16, '\u00e9');
        expect(props, "S", CIMDataType.STRING, "caf\u00e9 \u263a \ud834\udd1e");
        expect(props, "DT", CIMDataType.DATETIME, new CIMDateTime("20261207041311.123456+060"));
        expect(props, "Interval", CIMDataType.DATETIME, new CIMDateTime("00000001020304.000005:000"));
        expect(props, "BA", CIMDataType.BOOLEAN_ARRAY, vector(true, false));
        expect(props, "U8A", CIMDataType.SINT16_ARRAY, vector((short) 0, (short) 255));
        expect(props, "S8A", CIMDataType.SINT8_ARRAY, vector((byte) -128, (byte) 127));
        expect(props, "U16A", CIMDataType.SINT32_ARRAY, vector(65535));
        expect(props, "S16A", CIMDataType.SINT16_ARRAY, vector((short) -1));
        expect(props, "U32A", CIMDataType.SINT64_ARRAY, vector(4294967295L, 0L));
        expect(props, "S32A", CIMDataType.SINT32_ARRAY, vector(7));
        expect(props, "U64A", CIMDataType.SINT64_ARRAY, vector(Long.MIN_VALUE));
        expect(props, "S64A", CIMDataType.SINT64_ARRAY, vector(-1L, 1L));
        expect(props, "R32A", CIMDataType.REAL32_ARRAY, vector(0.5f));
        expect(props, "R64A", CIMDataType.REAL64_ARRAY, vector(2.5, -3.0));
        expect(props, "C16A", CIMDataType.CHAR16_ARRAY, vector('a', '\u263a'));
        expect(props, "SA", CIMDataType.STRING_ARRAY, vector("x", "", "y z"));
        expect(props, "DTA", CIMDataType.DATETIME_ARRAY, vector(new CIMDateTime("20000101000000.000000+000")));
        expect(props, "Empty", CIMDataType.STRING_ARRAY, vector());
        expect(props, "NullArray", CIMDataType.STRING_ARRAY, null);
        expect(props, "NullScalar", CIMDataType.SINT64, null);
        CIMProperty ref = property(props, "Ref");
        checks.same(type(CIMDataType.REFERENCE), ref.getType(), "Ref type");
        CIMObjectPath target = (CIMObjectPath) ref.getValue().getValue();
        checks.same("Bridge_Types", target.getObjectName(), "Ref class");
        checks.same(2L, numberOf(target.getKey("Gamma")), "Ref key");

        checks.same(false, property(props, "Hidden").isReadable(), "Read(false)");
        checks.same(true, property(props, "Settable").isWriteable(), "Write");
        checks.same(false, property(props, "Fixed").isWriteable(), "Write(false)");
        checks.same(true, property(props, "S").isReadable(), "no Read qualifier keeps the default");
    }

    private static long numberOf(CIMProperty key) {
        return key == null ? -1 : Long.parseLong(String.valueOf(key.getValue().getValue()));
    }

    /** Keys without a type, with commas, quotes, backslashes and characters beyond ASCII. */
    private static void awkwardKeys(int h) {
        CIMObjectPath p = new CIMObjectPath("Bridge_Types");
        p.addKey("Beta", new CIMValue(TRICKY_BETA));
        p.addKey("Gamma", new CIMValue(3L));
        p.addKey("alpha", new CIMValue(TRICKY_ALPHA));
        CIMInstance inst = new CIMInstance();
        checks.same(0, impl.getInstance(h, inst, p), "untyped keys: " + impl.getLastError());
        checks.same("quoted", valueOf(inst, "S"), "the instance they name");
        checks.same(TRICKY_BETA, valueOf(inst, "Beta"), "key read back");
        checks.same(TRICKY_ALPHA, valueOf(inst, "alpha"), "non-ASCII key read back");

        // A string key that looks like a binding stays one value.
        CIMObjectPath injected = typesPath("b\",Gamma=1,alpha=\"a", 1, "a");
        checks.same(RC_NOT_FOUND, impl.getInstance(h, new CIMInstance(), injected), "no binding the caller did not give");

        // Every enumerated path reads back, the awkward one included.
        Vector<Object> paths = new Vector<>();
        checks.same(0, impl.enumerateInstanceNames(h, paths, className("Bridge_Types")), "enumerate");
        for (Object o : paths) {
            CIMInstance back = new CIMInstance();
            checks.same(0, impl.getInstance(h, back, (CIMObjectPath) o), "getInstance of " + o + ": " + impl.getLastError());
        }
    }

    private static Object valueOf(CIMInstance inst, String name) {
        CIMProperty p = inst.getProperty(name);
        return p == null || p.getValue() == null ? null : p.getValue().getValue();
    }

    // ------------------------------------------------------------ enumerations

    private static void enumerations(int h) {
        Vector<Object> paths = new Vector<>();
        paths.add("already there");
        checks.same(0, impl.enumerateInstanceNames(h, paths, className("bridge_TYPES")), "any letter case");
        checks.same("already there", paths.get(0), "appended behind what was there");
        checks.same(4, paths.size(), "the three of the class, not the subclass's: " + paths);
        for (Object o : paths.subList(1, paths.size())) {
            checks.same("Bridge_Types", ((CIMObjectPath) o).getObjectName(), "class of " + o);
        }
        checks.same(0, impl.enumerateInstanceNames(h, paths, className("Bridge_Child")), "again, same vector");
        checks.same(5, paths.size(), "second result appended");
        Vector<Object> none = new Vector<>();
        checks.same(0, impl.enumerateInstanceNames(h, none, className("Test_Special")), "no instances");
        checks.same(0, none.size(), "nothing added");

        Vector<Object> classes = new Vector<>();
        checks.same(0, impl.enumerateClassNames(h, classes, className("Bridge_Types"), false), "shallow");
        checks.same(Arrays.asList("Bridge_Child"), names(classes), "direct subclasses");
        classes.clear();
        checks.same(0, impl.enumerateClassNames(h, classes, className("Test_Base"), true), "deep");
        checks.same(Arrays.asList("Test_Child", "Test_Special"), sortedNames(classes), "all descendants");
        for (CIMObjectPath from : new CIMObjectPath[] {className(""), className(null)}) {
            classes.clear();
            checks.same(0, impl.enumerateClassNames(h, classes, from, false), "from the top: " + impl.getLastError());
            List<String> top = names(classes);
            checks.check(top.contains("Bridge_Types") && top.contains("Test_Base") && !top.contains("Bridge_Child"),
                         "top-level classes only: " + top);
            classes.clear();
            checks.same(0, impl.enumerateClassNames(h, classes, from, true), "deep from the top");
            checks.check(names(classes).containsAll(Arrays.asList("Bridge_Types", "Bridge_Child", "Test_Special")),
                         "every class: " + names(classes));
        }
    }

    private static List<String> sortedNames(Vector<?> items) {
        List<String> n = names(items);
        Collections.sort(n);
        return n;
    }

    // ------------------------------------------------------------ getClass

    private static void classes(int h) {
        CIMClass cls = new CIMClass();
        checks.same(0, impl.getClass(h, cls, className("bridge_types"), false, true, true), "getClass " + impl.getLastError());
        checks.same("bridge_types", cls.getName(), "the caller's spelling");
        Vector<?> props = cls.getProperties();
        checks.same(Arrays.asList("Beta", "Gamma", "alpha"), names(props).subList(0, 3), "keys first");
        // Classes keep the unsigned types; U32 has a default.
        expect(props, "U32", CIMDataType.UINT32, new UnsignedInt32(4294967295L));
        expect(props, "U8", CIMDataType.UINT8, null);
        expect(props, "U64A", CIMDataType.UINT64_ARRAY, null);
        expect(props, "Ref", CIMDataType.REFERENCE, null);
        checks.same(true, property(props, "Gamma").isKey(), "key flag");
        checks.same(false, property(props, "Hidden").isReadable(), "Read(false) on the class");

        checks.same(Arrays.asList("Params", "NoParams", "Stamp"), names(cls.getMethods()), "deprecated method left out");
        CIMMethod params = cls.getMethod("Params");
        checks.same(type(CIMDataType.UINT32), params.getType(), "method type");
        checks.same(type(CIMDataType.DATETIME), cls.getMethod("Stamp").getType(), "datetime method type");
        checks.same(Arrays.asList("InOnly", "InOut", "Plain", "OutFalse", "Refs", "Numbers", "When"),
                    names(params.getParameters()), "In/Out selection");
        checks.same(type(CIMDataType.REFERENCE), paramType(params, "Refs"), "reference array parameter");
        checks.same(type(CIMDataType.UINT16_ARRAY), paramType(params, "Numbers"), "array parameter");
        checks.same(type(CIMDataType.DATETIME), paramType(params, "When"), "datetime parameter");
        checks.same(0, cls.getMethod("NoParams").getParameters().size(), "no parameters");

        // Local only: the subclass's own properties, every method still there.
        CIMClass child = new CIMClass();
        checks.same(0, impl.getClass(h, child, className("Bridge_Child"), true, true, true), "localOnly");
        checks.same(Arrays.asList("ChildOnly"), names(child.getProperties()), "local properties");
        expect(child.getProperties(), "ChildOnly", CIMDataType.STRING, "child");
        checks.same(Arrays.asList("Params", "NoParams", "Stamp"), names(child.getMethods()), "inherited methods");
        CIMClass all = new CIMClass();
        checks.same(0, impl.getClass(h, all, className("Bridge_Child"), false, false, false), "no qualifiers");
        checks.check(names(all.getProperties()).containsAll(Arrays.asList("Beta", "ChildOnly")), "inherited properties");
        checks.same(Arrays.asList("Params", "NoParams", "Stamp"), names(all.getMethods()), "still no deprecated method");
        checks.same(true, property(all.getProperties(), "Hidden").isReadable(), "no qualifiers asked: defaults");

        CIMClass untouched = new CIMClass("keep");
        checks.same(CIMImpl.RC_NO_CLASS_NAME, impl.getClass(h, untouched, className(""), false, true, true), "empty name");
        checks.same(CIMImpl.RC_NO_CLASS_NAME, impl.getClass(h, untouched, className(null), false, true, true), "null name");
        checks.same("keep", untouched.getName(), "class untouched");
    }

    private static CIMDataType paramType(CIMMethod m, String name) {
        for (Object o : m.getParameters()) {
            if (((CIMParameter) o).getName().equals(name)) {
                return ((CIMParameter) o).getType();
            }
        }
        return null;
    }

    // ------------------------------------------------------------ failures

    /** A key that fails while the path text is built. */
    static final class ThrowingKey extends CIMProperty {
        ThrowingKey() { super("Beta"); }
        @Override public String getName() { throw new IllegalStateException("no name today"); }
    }

    private static void failures(int h) {
        CIMInstance inst = new CIMInstance();
        checks.same(RC_NOT_FOUND, impl.getInstance(h, inst, typesPath("none", 9, "none")), "missing instance");
        String notFound = impl.getLastError();
        checks.check(!notFound.isEmpty(), "the server's message is the last error");
        checks.same(RC_NOT_FOUND, impl.getClass(h, new CIMClass(), className("No_Such"), false, true, true),
                    "missing class");
        String noClass = impl.getLastError();
        checks.check(noClass.contains("No_Such"), "last error names the class: " + noClass);

        // Failures that are not CIM errors leave the last error alone.
        checks.same(CIMImpl.RC_FAILED, impl.getInstance(h, inst, className("Bad Name")), "unparsable path");
        checks.same(CIMImpl.RC_FAILED, impl.enumerateInstanceNames(h, new Vector<>(), className("Bad Name")), "bad class name");
        checks.same(noClass, impl.getLastError(), "last error unchanged");
        CIMObjectPath throwing = new CIMObjectPath("Bridge_Types");
        throwing.getKeys().add(new ThrowingKey());
        try {
            impl.getInstance(h, inst, throwing);
            checks.check(false, "the key's exception reaches the caller");
        } catch (IllegalStateException e) {
            checks.same("no name today", e.getMessage(), "the key's own exception");
        }
        checks.same(noClass, impl.getLastError(), "last error unchanged after the Java exception");
        checks.same(null, inst.getObjectPath(), "instance untouched by failures");

        // A torn-down handle: nothing is called on the Java objects.
        int gone = connect();
        impl.tearDown(gone);
        Vector<Object> v = vector("x");
        CIMClass cls = new CIMClass("keep");
        checks.same(CIMImpl.RC_NO_CONNECTION, impl.enumerateClassNames(gone, v, className("Test_Base"), true), "ecn torn down");
        checks.same(CIMImpl.RC_NO_CONNECTION, impl.enumerateInstanceNames(gone, v, className("Test_Base")), "ein torn down");
        checks.same(CIMImpl.RC_NO_CONNECTION, impl.getInstance(gone, inst, typesPath("b", 1, "a")), "gi torn down");
        checks.same(CIMImpl.RC_NO_CONNECTION, impl.getClass(gone, cls, className("Test_Base"), false, true, true), "gc torn down");
        checks.same(1, v.size(), "vector unchanged");
        checks.same("keep", cls.getName(), "class unchanged");
        checks.same(noClass, impl.getLastError(), "no last error for a torn-down handle");
    }

    /** Calls another native from inside getInstance, on the same thread. */
    static final class Reentrant extends CIMInstance {
        final int handle;
        int inner = -1;
        String error = "";
        Reentrant(int handle) { this.handle = handle; }
        @Override public void setClassName(String name) {
            super.setClassName(name);
            inner = impl.enumerateClassNames(handle, new Vector<>(), className("Test_Base"), true);
            error = impl.getLastError();
        }
    }

    private static void reentry(int h) {
        Reentrant inst = new Reentrant(h);
        checks.same(0, impl.getInstance(h, inst, typesPath("b", 1, "a")), "the outer call");
        checks.same(CIMImpl.RC_FAILED, inst.inner, "the inner call is refused, not a deadlock");
        checks.check(inst.error.contains("called again"), "and says why: " + inst.error);
        Vector<Object> v = new Vector<>();
        checks.same(0, impl.enumerateClassNames(h, v, className("Test_Base"), true), "the lock is free afterwards");
    }

    // ------------------------------------------------------------ trace

    private static void traceLines(int h) throws IOException {
        Path file = Paths.get(System.getenv("ORV_HOME"), "orvlogs", "brevincimtrc.log");
        impl.toggleNativeTrace(true);
        long from = Files.exists(file) ? Files.readAllLines(file, StandardCharsets.UTF_8).size() : 0;
        CIMInstance traced = new CIMInstance();
        impl.getInstance(h, traced, typesPath("b", 2, "a"));
        impl.getClass(h, new CIMClass(), className("Bridge_Types"), false, true, true);
        impl.toggleNativeTrace(false);
        List<String> all = Files.readAllLines(file, StandardCharsets.UTF_8);
        List<String> lines = new ArrayList<>();
        for (String line : all.subList((int) from, all.size())) {
            lines.add(line.substring(line.indexOf(": ") + 2));
        }
        String path = "Bridge_Types.Beta=\"b\",Gamma=2,alpha=\"a\"";
        List<String> expected = Arrays.asList(
            "XXX: getInstance(): Instance Object Path = \"" + path + "\"",
            "XXX: getInstance(): Querying Class \"Bridge_Types\" for keys",
            "LoadProperties: Property Beta has a datatype of CIMTYPE_STRING",
            "LoadProperties: Property Gamma has a datatype of CIMTYPE_UINT32",
            "LoadProperties: Property alpha has a datatype of CIMTYPE_STRING");
        checks.same(expected, lines.subList(0, Math.min(5, lines.size())), "getInstance trace");
        checks.check(lines.contains("XXX: getInstance: Setting Instance Object Path to \"" + NS + ":" + path + "\""),
                     "path trace line");
        checks.check(lines.contains("XXX: Java_javax_wbem_client_CIMImpl_getClass: method Retired on class Bridge_Types is deprecated"),
                     "deprecated trace line");
        // One line a property of the instance; the class form writes none.
        checks.same((long) traced.getProperties().size(), lines.stream().filter(l -> l.startsWith("LoadProperties:")).count(), "LoadProperties lines");
    }

    // ------------------------------------------------------------ threads

    private static void manyThreads() throws InterruptedException {
        AtomicInteger wrong = new AtomicInteger();
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            final int seed = t;
            threads.add(new Thread(() -> {
                int h = impl.setup(new CIMNameSpace("", NS));
                if (h <= 0) {
                    wrong.incrementAndGet();
                    return;
                }
                for (int i = 0; i < READS_PER_THREAD; i++) {
                    if (!oneRead(h, (i + seed) % 4)) {
                        wrong.incrementAndGet();
                    }
                }
                impl.tearDown(h);
            }));
        }
        for (Thread t : threads) t.start();
        for (Thread t : threads) t.join();
        checks.same(0, wrong.get(), THREADS + " threads x " + READS_PER_THREAD + " reads with a wrong result");
    }

    private static boolean oneRead(int h, int kind) {
        switch (kind) {
        case 0: {
            CIMInstance inst = new CIMInstance();
            return impl.getInstance(h, inst, typesPath("b", 1, "a")) == 0
                && Long.valueOf(4294967295L).equals(valueOf(inst, "U32"));
        }
        case 1: {
            Vector<Object> v = new Vector<>();
            return impl.enumerateInstanceNames(h, v, className("Bridge_Types")) == 0 && v.size() == 3;
        }
        case 2: {
            CIMClass c = new CIMClass();
            return impl.getClass(h, c, className("Bridge_Types"), false, true, true) == 0 && c.getMethods().size() == 3;
        }
        default: {
            Vector<Object> v = new Vector<>();
            return impl.enumerateClassNames(h, v, className("Test_Base"), true) == 0 && v.size() == 2;
        }
        }
    }

    /**
     * One enumeration of 20,000 names: the natives' local references stay
     * bounded whatever the result's size (the -Xcheck:jni twin allows no
     * local-capacity note).
     */
    private static void manyNames(int h) {
        final int many = 20000;
        CIMInstance inst = new CIMInstance();
        inst.setClassName("Bridge_Item");
        for (int i = 0; i < many; i++) {
            inst.setProperty("Id", typed("many " + i, CIMDataType.STRING));
            CIMObjectPath p = className("Bridge_Item");
            if (impl.createInstance(h, new CIMObjectPath(), p, inst) != 0) {
                checks.check(false, "create instance " + i + ": " + impl.getLastError());
                return;
            }
        }
        Vector<Object> names = new Vector<>();
        checks.same(0, impl.enumerateInstanceNames(h, names, className("Bridge_Item")), "enumerate 20,000: " + impl.getLastError());
        checks.same(many + 1, names.size(), "every name (and the fixed one)");
        for (Object o : names) {
            CIMObjectPath p = (CIMObjectPath) o;
            if (p.getKey("Id") != null && String.valueOf(p.getKey("Id").getValue()).startsWith("many ")) {
                impl.deleteInstance(h, p);
            }
        }
    }

    public static void main(String[] args) throws Exception {
        if (args.length != 1) {
            System.err.println("usage: BridgeReadsJavaTest --with-server|--server-gone");
            System.exit(2);
        }
        System.out.println("default charset: " + Charset.defaultCharset());
        CIMImpl.loadLibrary();
        if (args[0].equals("--with-server")) {
            int h = connect();
            instanceOfEveryType(h);
            awkwardKeys(h);
            enumerations(h);
            classes(h);
            failures(h);
            reentry(h);
            traceLines(h);
            manyNames(h);
            impl.tearDown(h);
            manyThreads();
        } else {
            // Without a server every read fails cleanly.
            checks.same(0, impl.setup(new CIMNameSpace("", NS)), "no server, no connection");
        }
        checks.finish();
    }
}
