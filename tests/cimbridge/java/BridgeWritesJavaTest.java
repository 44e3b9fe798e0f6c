import java.math.BigDecimal;
import java.math.BigInteger;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Vector;
import java.util.concurrent.atomic.AtomicInteger;
import java.util.concurrent.atomic.AtomicLong;
import javax.wbem.cim.CIMDataType;
import javax.wbem.cim.CIMDateTime;
import javax.wbem.cim.CIMInstance;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMObjectPath;
import javax.wbem.cim.CIMProperty;
import javax.wbem.cim.CIMValue;
import javax.wbem.cim.UnsignedInt16;
import javax.wbem.cim.UnsignedInt32;
import javax.wbem.cim.UnsignedInt64;
import javax.wbem.cim.UnsignedInt8;
import javax.wbem.client.CIMImpl;

/**
 * The writing natives (createInstance, deleteInstance, setProperty) and the
 * property readers through CIMImpl against minicimd with bridge-test.mof
 * (run by with_minicimd).
 */
public final class BridgeWritesJavaTest {
    private static final Checks checks = new Checks();
    private static final CIMImpl impl = new CIMImpl();
    private static final String NS = "root/cimv2";
    private static final int RC_INVALID_PARAMETER = 0x30000007;
    private static final int RC_NOT_FOUND = 0x30000009;
    private static final int RC_ALREADY_EXISTS = 0x3000000E;
    private static final int THREADS = 8;
    private static final int WRITES_PER_THREAD = 100;

    private static CIMValue typed(Object o, int t) { return new CIMValue(o, new CIMDataType(t)); }

    private static CIMObjectPath item(String id) {
        CIMObjectPath p = new CIMObjectPath("Bridge_Item");
        p.addKey("Id", typed(id, CIMDataType.STRING));
        return p;
    }

    private static Object getProperty(int h, CIMObjectPath p, String name) {
        CIMValue v = new CIMValue(null);
        int rc = impl.getProperty(h, v, p, name);
        checks.same(0, rc, "getProperty " + name + ": " + impl.getLastError());
        return v.getValue();
    }

    /** An object whose every method fails: a "NULL" value must not touch it. */
    static final class Untouchable {
        @Override public String toString() { throw new IllegalStateException("touched"); }
        @Override public int hashCode() { throw new IllegalStateException("touched"); }
    }

    private static void everyType(int h) {
        CIMObjectPath fixed = item("fixed");
        Object[][] cases = {
            // property, value sent, value read back (instances widen unsigned types)
            {"B", typed(true, CIMDataType.BOOLEAN), true},
            {"U8", typed(new UnsignedInt8((short) 200), CIMDataType.UINT8), (short) 200},
            {"S8", typed((byte) -1, CIMDataType.SINT8), (byte) -1},
            {"U16", typed(new UnsignedInt16(65535), CIMDataType.UINT16), 65535},
            {"S16", typed((short) -32768, CIMDataType.SINT16), (short) -32768},
            {"U32", typed(new UnsignedInt32(4294967295L), CIMDataType.UINT32), 4294967295L},
            {"S32", typed(Integer.MIN_VALUE, CIMDataType.SINT32), Integer.MIN_VALUE},
            {"U64", typed(new UnsignedInt64(UnsignedInt64.MAX_VALUE), CIMDataType.UINT64), -1L},
            {"S64", typed(Long.MIN_VALUE, CIMDataType.SINT64), Long.MIN_VALUE},
            {"R32", typed(0.5f, CIMDataType.REAL32), 0.5f},
            {"R64", typed(-2.25, CIMDataType.REAL64), -2.25},
            {"C16", typed('\u263a', CIMDataType.CHAR16), '\u263a'},
            {"S", typed("caf\u00e9 \ud834\udd1e", CIMDataType.STRING), "caf\u00e9 \ud834\udd1e"},
            {"DT", typed(new CIMDateTime("20261208101500.000000+060"), CIMDataType.DATETIME),
                new CIMDateTime("20261208101500.000000+060")},
            {"SA", typed(new Vector<>(), CIMDataType.STRING_ARRAY), new Vector<>()},
            {"U16A", typed(new Vector<>(Arrays.asList(new UnsignedInt16(1), new UnsignedInt16(65535))),
                           CIMDataType.UINT16_ARRAY), new Vector<>(Arrays.asList(1, 65535))},
            // the edges of each range, exact whatever the Number class
            {"U8", typed((byte) -1, CIMDataType.UINT8), (short) 255},
            {"U64", typed(UnsignedInt64.MAX_VALUE, CIMDataType.UINT64), -1L},
            {"S64", typed(new BigDecimal("-9223372036854775808.000"), CIMDataType.SINT64), Long.MIN_VALUE},
            {"S32", typed(-2147483648.0, CIMDataType.SINT32), Integer.MIN_VALUE},
            {"U32", typed(new AtomicLong(4294967295L), CIMDataType.UINT32), 4294967295L},
            {"R32", typed(Double.NEGATIVE_INFINITY, CIMDataType.REAL32), Float.NEGATIVE_INFINITY},
            {"R64", typed(Double.NaN, CIMDataType.REAL64), Double.NaN},
            {"DTA", typed(new Vector<>(Arrays.asList(new CIMDateTime("00000001020304.000000:000"))),
                          CIMDataType.DATETIME_ARRAY),
                new Vector<>(Arrays.asList(new CIMDateTime("00000001020304.000000:000")))},
        };
        for (Object[] c : cases) {
            String name = (String) c[0];
            checks.same(0, impl.setProperty(h, fixed, name, (CIMValue) c[1]), "setProperty " + name + ": " + impl.getLastError());
            checks.same(c[2], getProperty(h, fixed, name), name + " read back");
        }
        checks.same(0, impl.setProperty(h, fixed, "Ref", typed(item("other"), CIMDataType.REFERENCE)), "reference");
        Object ref = getProperty(h, fixed, "Ref");
        checks.same("other", ref instanceof CIMObjectPath ? ((CIMObjectPath) ref).getKey("Id").getValue().getValue() : ref,
                    "reference read back");
        // A key without a type keeps its class's type: a number stays a number.
        CIMObjectPath numbered = new CIMObjectPath("Bridge_Item");
        numbered.addKey("Num", new CIMValue(2L));
        checks.same(0, impl.setProperty(h, fixed, "Ref", typed(numbered, CIMDataType.REFERENCE)), "numbered reference");
        ref = getProperty(h, fixed, "Ref");
        Object num = ref instanceof CIMObjectPath ? ((CIMObjectPath) ref).getKey("Num").getValue().getValue() : ref;
        checks.check(num instanceof Number && num.toString().equals("2"), "a numeric key read back as a number: " + num);

        // A "NULL" value clears the property without looking inside.
        checks.same(0, impl.setProperty(h, fixed, "Label", typed(new Untouchable(), CIMDataType.NULL)), "NULL");
        CIMValue kept = new CIMValue("mine");
        checks.same(0, impl.getProperty(h, kept, fixed, "Label"), "null property");
        checks.same("mine", kept.getValue(), "a null value leaves the caller's value alone");
        // A null value object under a real type sends a null of that type.
        checks.same(0, impl.setProperty(h, fixed, "U32", typed(null, CIMDataType.UINT32)), "typed null");
        CIMValue u32 = new CIMValue(7);
        impl.getProperty(h, u32, fixed, "U32");
        checks.same(7, u32.getValue(), "typed null read back as null");

        String before = impl.getLastError();
        checks.same(CIMImpl.RC_FAILED, impl.getProperty(h, new CIMValue(null), fixed, "NoSuchProperty"), "missing name");
        checks.same(before, impl.getLastError(), "no last error for a missing name");

        Vector<Object> props = new Vector<>();
        props.add("first");
        checks.same(0, impl.getProperties(h, props, fixed, null), "null names");
        checks.same(1, props.size(), "nothing appended for null names");
        checks.same(0, impl.getProperties(h, props, fixed, new String[0]), "no names");
        checks.same(0, impl.getProperties(h, props, fixed, new String[] {"S", "B", "Nope", "S"}), "names");
        List<String> names = new ArrayList<>();
        for (Object o : props.subList(1, props.size())) names.add(((CIMProperty) o).getName());
        checks.same(Arrays.asList("B", "S"), names, "byte order, duplicates once, missing skipped");
    }

    private static void createAndDelete(int h) {
        CIMInstance inst = new CIMInstance();
        inst.setClassName("Bridge_Item");
        inst.setProperty("Id", typed("n1", CIMDataType.STRING));
        inst.setProperty("U32", typed(new UnsignedInt32(5), CIMDataType.UINT32));
        CIMObjectPath result = new CIMObjectPath();
        checks.same(0, impl.createInstance(h, result, item("n1"), inst), "createInstance: " + impl.getLastError());
        checks.same("Bridge_Item", result.getObjectName(), "result class from the server");
        checks.same("n1", result.getKey("Id") == null ? null : result.getKey("Id").getValue().getValue(), "result key");
        checks.same("unnamed", getProperty(h, item("n1"), "Label"), "the server's default");
        checks.same(5L, getProperty(h, item("n1"), "U32"), "the value sent");

        // No properties at all: the request carries no key (the path is not
        // sent with a new instance), so the server refuses it with its reason.
        CIMInstance bare = new CIMInstance();
        bare.setClassName("Bridge_Item");
        CIMObjectPath bareResult = new CIMObjectPath("keep");
        checks.same(RC_INVALID_PARAMETER, impl.createInstance(h, bareResult, item("bare"), bare), "empty property vector");
        checks.check(impl.getLastError().contains("Id"), "the server's reason: " + impl.getLastError());
        checks.same("keep", bareResult.getObjectName(), "result path untouched");

        CIMObjectPath untouched = new CIMObjectPath("keep");
        checks.same(RC_ALREADY_EXISTS, impl.createInstance(h, untouched, item("n1"), inst), "already exists");
        checks.check(!impl.getLastError().isEmpty(), "the server's message");
        checks.same("keep", untouched.getObjectName(), "result path untouched on failure");

        String last = impl.getLastError();
        CIMInstance bad = new CIMInstance();
        bad.setClassName("Bad Name");
        checks.same(CIMImpl.RC_FAILED, impl.createInstance(h, untouched, item("n2"), bad), "illegal class name");
        checks.same(CIMImpl.RC_FAILED, impl.setProperty(h, item("n1"), "Bad Name", typed("x", CIMDataType.STRING)),
                    "illegal property name");
        checks.same(last, impl.getLastError(), "last error unchanged by failures before the server call");

        checks.same(0, impl.deleteInstance(h, item("n1")), "deleteInstance");
        checks.same(RC_NOT_FOUND, impl.getInstance(h, new CIMInstance(), item("n1")), "gone");
        checks.same(RC_NOT_FOUND, impl.deleteInstance(h, item("n1")), "delete a missing instance");
        checks.check(!impl.getLastError().equals(last), "its last error");

        int gone = impl.setup(new CIMNameSpace("", NS));
        impl.tearDown(gone);
        int[] rcs = {
            impl.createInstance(gone, untouched, item("n3"), inst),
            impl.deleteInstance(gone, item("fixed")),
            impl.getProperty(gone, new CIMValue(null), item("fixed"), "S"),
            impl.getProperties(gone, new Vector<>(), item("fixed"), new String[] {"S"}),
            impl.setProperty(gone, item("fixed"), "S", typed("x", CIMDataType.STRING)),
        };
        for (int rc : rcs) checks.same(CIMImpl.RC_NO_CONNECTION, rc, "torn-down handle");
        checks.same("keep", untouched.getObjectName(), "result path untouched");
    }

    /** Each thread writes an instance of its own: every final state right. */
    private static void manyThreads() throws InterruptedException {
        AtomicInteger wrong = new AtomicInteger();
        List<Thread> threads = new ArrayList<>();
        for (int t = 0; t < THREADS; t++) {
            final String id = "thread" + t;
            threads.add(new Thread(() -> {
                int h = impl.setup(new CIMNameSpace("", NS));
                CIMInstance inst = new CIMInstance();
                inst.setClassName("Bridge_Item");
                inst.setProperty("Id", typed(id, CIMDataType.STRING));
                if (impl.createInstance(h, new CIMObjectPath(), item(id), inst) != 0) wrong.incrementAndGet();
                for (int i = 1; i <= WRITES_PER_THREAD; i++) {
                    if (impl.setProperty(h, item(id), "U32", typed(new UnsignedInt32(i), CIMDataType.UINT32)) != 0) {
                        wrong.incrementAndGet();
                    }
                    CIMValue v = new CIMValue(null);
                    if (impl.getProperty(h, v, item(id), "U32") != 0 || !Long.valueOf(i).equals(v.getValue())) {
                        wrong.incrementAndGet();
                    }
                }
                impl.tearDown(h);
            }));
        }
        for (Thread t : threads) t.start();
        for (Thread t : threads) t.join();
        checks.same(0, wrong.get(), "wrong results from " + THREADS + " writing threads");
        int h = impl.setup(new CIMNameSpace("", NS));
        Vector<Object> paths = new Vector<>();
        impl.enumerateInstanceNames(h, paths, new CIMObjectPath("Bridge_Item"));
        checks.same(THREADS + 1, paths.size(), "one instance a thread, plus the fixed one");
        for (int t = 0; t < THREADS; t++) {
            checks.same((long) WRITES_PER_THREAD, getProperty(h, item("thread" + t), "U32"), "final value of thread" + t);
        }
        impl.tearDown(h);
    }

    public static void main(String[] args) throws Exception {
        CIMImpl.loadLibrary();
        if (args.length == 1 && args[0].equals("--with-server")) {
            int h = impl.setup(new CIMNameSpace("", NS));
            checks.check(h > 0, "setup: " + impl.getLastError());
            everyType(h);
            createAndDelete(h);
            impl.tearDown(h);
            manyThreads();
        }
        checks.finish();
    }
}
