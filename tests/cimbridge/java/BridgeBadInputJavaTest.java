import java.math.BigDecimal;
import java.math.BigInteger;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Vector;
import javax.wbem.cim.CIMArgument;
import javax.wbem.cim.CIMClass;
import javax.wbem.cim.CIMDataType;
import javax.wbem.cim.CIMInstance;
import javax.wbem.cim.CIMMethod;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMObjectPath;
import javax.wbem.cim.CIMProperty;
import javax.wbem.cim.CIMValue;
import javax.wbem.cim.UnsignedInt32;
import javax.wbem.client.CIMImpl;

/**
 * Every CIMImpl native with null and malformed arguments against minicimd
 * (run by with_minicimd): a failure status, or a Java exception the caller
 * sees, never a crash; the connection works afterwards.
 */
public final class BridgeBadInputJavaTest {
    private static final Checks checks = new Checks();
    private static final CIMImpl impl = new CIMImpl();
    private static final String NS = "root/cimv2";
    private static final int HUGE = 4 << 20;
    private static final int RC_FAILED = 0x30000004;
    private static final int RC_NOT_FOUND = 0x30000009;
    // Cases that may succeed: the only null is the object a result goes into,
    // a null path enumerates from the top, a null property name names nothing.
    private static final String MAY_SUCCEED =
        "(null vector)|(null instance)|(null class)|(null value)|enumerateClassNames\\(null path\\)|(null name inside)";

    private interface Call { int run(int handle); }

    private static CIMValue typed(Object o, int t) { return new CIMValue(o, new CIMDataType(t)); }

    private static CIMObjectPath item(Object id) {
        CIMObjectPath p = new CIMObjectPath("Bridge_Item");
        p.addKey("Id", typed(id, CIMDataType.STRING));
        return p;
    }

    private static String huge(char c) {
        char[] text = new char[HUGE];
        Arrays.fill(text, c);
        return new String(text);
    }

    public static void main(String[] args) throws Exception {
        CIMImpl.loadLibrary();
        if (!(args.length == 1 && args[0].equals("--with-server"))) {
            checks.finish();
            return;
        }
        int h = impl.setup(new CIMNameSpace("", NS));
        checks.check(h > 0, "setup: " + impl.getLastError());
        CIMObjectPath fixed = item("fixed");
        CIMObjectPath noClass = new CIMObjectPath();
        CIMObjectPath badClass = new CIMObjectPath();
        badClass.setObjectName("Bad Name");
        CIMObjectPath wrongKeys = item("x");
        Vector<Object> notProperties = new Vector<>(Arrays.asList("not a property", null));
        wrongKeys.setKeys(notProperties);
        CIMObjectPath wrongValue = item(new Object());           // a key value of no CIM class
        CIMObjectPath hugeKey = item(huge('k'));
        CIMObjectPath foreign = item("\u00e9\u263a\ud834\udd1e");
        CIMValue wrongClass = typed(new Object(), CIMDataType.UINT32);
        Vector<Object> mixed = new Vector<>(Arrays.asList("a", 1, new Object(), null));
        CIMValue wrongVector = typed(mixed, CIMDataType.STRING_ARRAY);
        CIMValue notVector = typed("text", CIMDataType.STRING_ARRAY);
        CIMInstance noName = new CIMInstance();
        CIMArgument[] nullArgs = {null, new CIMArgument(null, null)};
        Object listener = new Object() {
            @SuppressWarnings("unused")
            public void methodCallCompleted(int c, CIMValue r, CIMArgument[] o, String s) {}
        };
        Object[][] table = {
            {"setup(null)", (Call) x -> impl.setup(null) == 0 ? 1 : 0},
            {"setup(no namespace)", (Call) x -> impl.setup(new CIMNameSpace("", null)) == 0 ? 1 : 0},
            {"setup(illegal namespace)", (Call) x -> impl.setup(new CIMNameSpace("", "bad name//\u00e9")) == 0 ? 1 : 0},
            {"setup(huge namespace)", (Call) x -> {
                int h2 = impl.setup(new CIMNameSpace("", huge('n') + " ")); // the blank makes it illegal
                impl.tearDown(h2);
                return h2 == 0 ? 1 : 0;
            }},
            {"enumerateClassNames(null vector)", (Call) x -> impl.enumerateClassNames(x, null, new CIMObjectPath("Bridge_Item"), true)},
            {"enumerateClassNames(null path)", (Call) x -> impl.enumerateClassNames(x, new Vector<>(), null, true)},
            {"enumerateClassNames(bad class)", (Call) x -> impl.enumerateClassNames(x, new Vector<>(), badClass, true)},
            {"enumerateInstanceNames(null vector)", (Call) x -> impl.enumerateInstanceNames(x, null, new CIMObjectPath("Bridge_Item"))},
            {"enumerateInstanceNames(null path)", (Call) x -> impl.enumerateInstanceNames(x, new Vector<>(), null)},
            {"enumerateInstanceNames(no class)", (Call) x -> impl.enumerateInstanceNames(x, new Vector<>(), noClass)},
            {"getInstance(null instance)", (Call) x -> impl.getInstance(x, null, fixed)},
            {"getInstance(null path)", (Call) x -> impl.getInstance(x, new CIMInstance(), null)},
            {"getInstance(wrong key class)", (Call) x -> impl.getInstance(x, new CIMInstance(), wrongValue)},
            {"getInstance(huge key)", (Call) x -> impl.getInstance(x, new CIMInstance(), hugeKey)},
            {"getInstance(non-ASCII key)", (Call) x -> impl.getInstance(x, new CIMInstance(), foreign)},
            {"getClass(null class)", (Call) x -> impl.getClass(x, null, new CIMObjectPath("Bridge_Item"), false, true, true)},
            {"getClass(null path)", (Call) x -> impl.getClass(x, new CIMClass(), null, false, true, true)},
            {"getClass(no class)", (Call) x -> impl.getClass(x, new CIMClass(), noClass, false, true, true)},
            {"getClass(bad class)", (Call) x -> impl.getClass(x, new CIMClass(), badClass, false, true, true)},
            {"createInstance(null result)", (Call) x -> impl.createInstance(x, null, item("n"), new CIMInstance())},
            {"createInstance(null path)", (Call) x -> impl.createInstance(x, new CIMObjectPath(), null, new CIMInstance())},
            {"createInstance(null instance)", (Call) x -> impl.createInstance(x, new CIMObjectPath(), item("n"), null)},
            {"createInstance(no class name)", (Call) x -> impl.createInstance(x, new CIMObjectPath(), item("n"), noName)},
            {"getInstance(keys not properties)", (Call) x -> impl.getInstance(x, new CIMInstance(), wrongKeys)},
            {"deleteInstance(null path)", (Call) x -> impl.deleteInstance(x, null)},
            {"deleteInstance(wrong key class)", (Call) x -> impl.deleteInstance(x, wrongValue)},
            {"getProperty(null value)", (Call) x -> impl.getProperty(x, null, fixed, "U32")},
            {"getProperty(null path)", (Call) x -> impl.getProperty(x, new CIMValue(null), null, "U32")},
            {"getProperty(null name)", (Call) x -> impl.getProperty(x, new CIMValue(null), fixed, null)},
            {"getProperty(empty name)", (Call) x -> impl.getProperty(x, new CIMValue(null), fixed, "")},
            {"getProperty(huge name)", (Call) x -> impl.getProperty(x, new CIMValue(null), fixed, huge('p'))},
            {"getProperties(null vector)", (Call) x -> impl.getProperties(x, null, fixed, new String[] {"U32"})},
            {"getProperties(null path)", (Call) x -> impl.getProperties(x, new Vector<>(), null, new String[] {"U32"})},
            {"getProperties(null name inside)", (Call) x -> impl.getProperties(x, new Vector<>(), fixed, new String[] {null, "U32"})},
            {"setProperty(null path)", (Call) x -> impl.setProperty(x, null, "U32", typed(1, CIMDataType.SINT32))},
            {"setProperty(null name)", (Call) x -> impl.setProperty(x, fixed, null, typed("x", CIMDataType.STRING))},
            {"setProperty(empty name)", (Call) x -> impl.setProperty(x, fixed, "", typed("x", CIMDataType.STRING))},
            {"setProperty(illegal name)", (Call) x -> impl.setProperty(x, fixed, "\u00e9 x", typed("x", CIMDataType.STRING))},
            {"setProperty(null value)", (Call) x -> impl.setProperty(x, fixed, "U32", null)},
            {"setProperty(wrong value class)", (Call) x -> impl.setProperty(x, fixed, "U32", wrongClass)},
            {"setProperty(wrong vector elements)", (Call) x -> impl.setProperty(x, fixed, "SA", wrongVector)},
            {"setProperty(wrong scalar class)", (Call) x -> impl.setProperty(x, fixed, "S", typed(7, CIMDataType.STRING))},
            {"setProperty(no vector)", (Call) x -> impl.setProperty(x, fixed, "SA", notVector)},
            {"setProperty(null type)", (Call) x -> impl.setProperty(x, fixed, "S", new CIMValue(new Object(), null))},
            {"invokeMethod(null path)", (Call) x -> impl.invokeMethod(x, null, "Echo", new CIMArgument[0], listener)},
            {"invokeMethod(null name)", (Call) x -> impl.invokeMethod(x, fixed, null, new CIMArgument[0], listener)},
            {"invokeMethod(empty name)", (Call) x -> impl.invokeMethod(x, fixed, "", new CIMArgument[0], listener)},
            {"invokeMethod(null arguments inside)", (Call) x -> impl.invokeMethod(x, fixed, "Echo", nullArgs, listener)},
            {"invokeMethod(null listener)", (Call) x -> impl.invokeMethod(x, fixed, "Echo", new CIMArgument[0], null)},
            {"invokeMethod(huge method name)", (Call) x -> impl.invokeMethod(x, fixed, huge('m'), new CIMArgument[0], listener)},
        };
        for (Object[] row : table) {
            String name = (String) row[0];
            System.out.println("calling " + name);
            System.out.flush();
            Throwable thrown = null;
            int rc = 0;
            try {
                rc = ((Call) row[1]).run(h);
            } catch (Throwable t) {
                thrown = t;
            }
            checks.check(thrown != null || rc != 0 || name.matches(".*(" + MAY_SUCCEED + ").*"),
                         name + ": neither a failure status nor an exception");
            System.out.println("  " + (thrown != null ? "threw " + thrown : "status 0x" + Integer.toHexString(rc))
                               + ", last error: " + impl.getLastError().substring(0, Math.min(120, impl.getLastError().length())));
            CIMValue v = new CIMValue(null);
            checks.same(0, impl.getProperty(h, v, fixed, "Label"), name + ": the connection works afterwards");
        }
        valuesThatCannotBeSent(h);
        untypedValuesGoByTheirClass(h);
        methodResultsThatCannotBeConverted(h);
        propertyNamesThatNameNothing(h);
        malformedPathIsTracedFirst(h);
        callersObjectsThatThrow(h);
        impl.tearDown(h);
        checks.finish();
    }

    private interface Status { int run(); }

    /** Runs a call that must neither throw nor succeed: its status and the words of its last error. */
    private static void refused(String name, Status call, String... words) {
        int rc = 0;
        try {
            rc = call.run();
        } catch (Throwable t) {
            checks.check(false, name + ": threw " + t);
        }
        checks.same(RC_FAILED, rc, name + ": status");
        String error = impl.getLastError();
        for (String w : words) {
            checks.check(error.contains(w), name + ": the last error names " + w + ": " + error);
        }
    }

    private static Object read(int h, CIMObjectPath path, String property) {
        CIMValue v = new CIMValue(null);
        checks.same(0, impl.getProperty(h, v, path, property), "read " + property + ": " + impl.getLastError());
        return v.getValue();
    }

    private static CIMInstance newItem(String id, String property, CIMValue value) {
        CIMInstance inst = new CIMInstance();
        inst.setClassName("Bridge_Item");
        inst.setProperty("Id", typed(id, CIMDataType.STRING));
        if (property != null) inst.setProperty(property, value);
        return inst;
    }

    /** Records every completion of invokeMethod. */
    public static final class Completions {
        final List<Object[]> calls = new ArrayList<>();
        public void methodCallCompleted(int code, CIMValue result, CIMArgument[] outputs, String unused) {
            calls.add(new Object[] {code, result, outputs, unused});
        }
    }

    private static CIMObjectPath methods() {
        CIMObjectPath p = new CIMObjectPath("Test_Methods");
        p.addKey("Name", typed("m", CIMDataType.STRING));
        return p;
    }

    /** Values of the wrong class or without a type fail with a reason; nothing reaches the server. */
    private static void valuesThatCannotBeSent(int h) {
        CIMObjectPath fixed = item("fixed");
        Object[][] before = {
            {"S", typed("before", CIMDataType.STRING), "before"},
            {"U8", typed((short) 5, CIMDataType.UINT8), (short) 5},
            {"C16", typed('q', CIMDataType.CHAR16), 'q'},
            {"B", typed(false, CIMDataType.BOOLEAN), false},
            {"U32", typed(3, CIMDataType.UINT32), 3L},
            {"SA", typed(new Vector<>(Arrays.asList("keep")), CIMDataType.STRING_ARRAY), new Vector<>(Arrays.asList("keep"))},
            {"S32", typed(9, CIMDataType.SINT32), 9},
            {"U64", typed(new BigInteger("5"), CIMDataType.UINT64), 5L},
            {"R32", typed(1.5f, CIMDataType.REAL32), 1.5f},
        };
        for (Object[] b : before) {
            checks.same(0, impl.setProperty(h, fixed, (String) b[0], (CIMValue) b[1]), "set " + b[0] + ": " + impl.getLastError());
        }
        CIMObjectPath loop = item("loop");
        loop.addKey("Self", new CIMValue(loop));
        Object[][] rows = {
            // property, value, words of the last error
            {"S", new CIMValue(new Object(), null), new String[] {"property S", "no data type", "java.lang.Object"}},
            {"SA", new CIMValue(new Vector<>(Arrays.asList((Object) null)), null), new String[] {"property SA", "no element"}},
            {"U8", typed("200", CIMDataType.UINT8), new String[] {"property U8", "java.lang.String", "java.lang.Number"}},
            {"U32", typed(new Object(), CIMDataType.UINT32), new String[] {"java.lang.Object", "java.lang.Number"}},
            {"C16", typed(65, CIMDataType.CHAR16), new String[] {"property C16", "java.lang.Integer", "java.lang.Character"}},
            {"B", typed("true", CIMDataType.BOOLEAN), new String[] {"property B", "java.lang.String", "java.lang.Boolean"}},
            {"SA", typed(new Vector<>(Arrays.asList("a", 1)), CIMDataType.STRING_ARRAY),
                new String[] {"property SA", "java.lang.Integer", "java.lang.String"}},
            {"SA", typed("text", CIMDataType.STRING_ARRAY), new String[] {"java.lang.String", "java.util.Collection"}},
            {"S", typed("x", 99), new String[] {"property S", "99"}},
            // numbers that do not fit their type, never cut to it
            {"U8", typed(300, CIMDataType.UINT8), new String[] {"property U8", "300", "0 to 255"}},
            {"U8", typed(-129, CIMDataType.UINT8), new String[] {"property U8", "-129", "-128 to -1"}},
            {"S32", typed(4294967303L, CIMDataType.SINT32), new String[] {"property S32", "4294967303", "-2147483648 to 2147483647"}},
            {"U64", typed(BigInteger.ONE.shiftLeft(64).add(BigInteger.valueOf(5)), CIMDataType.UINT64),
                new String[] {"property U64", "18446744073709551621", "java.math.BigInteger"}},
            {"S64", typed(new BigDecimal("1E+999999999"), CIMDataType.SINT64), new String[] {"property S64", "1E+999999999"}},
            {"S32", typed(1.9, CIMDataType.SINT32), new String[] {"property S32", "1.9", "not a whole number"}},
            {"S32", typed(new BigDecimal("2.50"), CIMDataType.SINT32), new String[] {"2.50", "not a whole number"}},
            {"S32", typed(Double.NaN, CIMDataType.SINT32), new String[] {"NaN", "not a whole number"}},
            {"R32", typed(1e300, CIMDataType.REAL32), new String[] {"property R32", "1.0E300", "REAL32"}},
            {"R64", typed(BigInteger.TEN.pow(400), CIMDataType.REAL64), new String[] {"property R64", "REAL64"}},
            {"SA", new CIMValue(new Vector<>(Arrays.asList(1, 1L << 40)), null), new String[] {"property SA", "element 1", "1099511627776"}},
            // nulls inside arrays, and text CIM cannot carry
            {"SA", typed(new Vector<>(Arrays.asList("x", null, "y")), CIMDataType.STRING_ARRAY), new String[] {"property SA", "element 1", "null"}},
            {"SA", new CIMValue(new Vector<>(Arrays.asList(null, "a")), null), new String[] {"property SA", "element 0", "null"}},
            {"S", typed("a\u0000b", CIMDataType.STRING), new String[] {"property S", "U+0000"}},
            {"S", typed("a\ud800b", CIMDataType.STRING), new String[] {"property S", "surrogate"}},
            {"SA", typed(new Vector<>(Arrays.asList("ok", "\udc00")), CIMDataType.STRING_ARRAY), new String[] {"property SA", "element 1", "surrogate"}},
            {"C16", typed('\ud800', CIMDataType.CHAR16), new String[] {"property C16", "U+D800"}},
            {"C16", typed('\u0000', CIMDataType.CHAR16), new String[] {"property C16", "U+0000"}},
            {"S", typed("bell\u0007", CIMDataType.STRING), new String[] {"property S", "U+0007", "character 4"}},
            {"C16", typed('\uffff', CIMDataType.CHAR16), new String[] {"property C16", "U+FFFF"}},
            {"Ref", typed(loop, CIMDataType.REFERENCE), new String[] {"property Ref", "nests more than 16"}},
        };
        for (Object[] r : rows) {
            String property = (String) r[0];
            CIMValue value = (CIMValue) r[1];
            refused("setProperty " + property + " " + value.getType() + " row " + Arrays.asList(rows).indexOf(r), () -> impl.setProperty(h, fixed, property, value),
                    (String[]) r[2]);
        }
        for (Object[] b : before) {
            checks.same(b[2], read(h, fixed, (String) b[0]), b[0] + " unchanged by the refused writes");
        }

        refused("createInstance with an untyped Object", () ->
                impl.createInstance(h, new CIMObjectPath(), item("refused"), newItem("refused", "Label", new CIMValue(new Object(), null))),
                "createInstance", "property Label", "java.lang.Object");
        refused("createInstance with a wrong class", () ->
                impl.createInstance(h, new CIMObjectPath(), item("refused"), newItem("refused", "U8", typed("1", CIMDataType.UINT8))),
                "property U8", "java.lang.String");
        checks.same(RC_NOT_FOUND, impl.getInstance(h, new CIMInstance(), item("refused")), "no instance was created");

        Completions l = new Completions();
        CIMArgument[] untypedObject = {new CIMArgument("Text", new CIMValue(new Object(), null))};
        refused("invokeMethod with an untyped Object", () -> impl.invokeMethod(h, methods(), "Echo", untypedObject, l),
                "argument Text", "java.lang.Object");
        checks.same(1, l.calls.size(), "one completion for a refused argument");
        checks.check(!l.calls.isEmpty() && l.calls.get(0)[0].equals(RC_FAILED) && l.calls.get(0)[1] == null
                     && l.calls.get(0)[2] == null, "the completion reports the failure without results");
    }

    /** A value without a data type is sent by its value object's class. */
    private static void untypedValuesGoByTheirClass(int h) {
        CIMObjectPath fixed = item("fixed");
        Object[][] rows = {
            {"S", "hello", "hello"},
            {"U32", new UnsignedInt32(7), 7L},   // instances widen unsigned values
            {"S32", -5, -5},
            {"C16", 'x', 'x'},
            {"B", true, true},
            {"SA", new Vector<>(Arrays.asList("a", "b")), new Vector<>(Arrays.asList("a", "b"))},
        };
        for (Object[] r : rows) {
            String property = (String) r[0];
            checks.same(0, impl.setProperty(h, fixed, property, new CIMValue(r[1])), "untyped " + property + ": " + impl.getLastError());
            checks.same(r[2], read(h, fixed, property), "untyped " + property + " arrives");
        }
        CIMInstance inst = new CIMInstance();
        inst.setClassName("Bridge_Item");
        inst.setProperty("Id", new CIMValue("untyped key"));
        checks.same(0, impl.createInstance(h, new CIMObjectPath(), item("untyped key"), inst), "untyped key: " + impl.getLastError());
        checks.same(0, impl.getInstance(h, new CIMInstance(), item("untyped key")), "the instance has its key");
        impl.deleteInstance(h, item("untyped key"));

        Completions l = new Completions();
        CIMArgument[] args = {new CIMArgument("Text", new CIMValue("echoed"))};
        checks.same(0, impl.invokeMethod(h, methods(), "Echo", args, l), "untyped argument: " + impl.getLastError());
        CIMArgument[] outputs = l.calls.isEmpty() ? null : (CIMArgument[]) l.calls.get(0)[2];
        boolean echoed = false;
        for (CIMArgument a : outputs == null ? new CIMArgument[0] : outputs) {
            echoed |= a.getName().equals("Text") && a.getValue() != null && "echoed".equals(a.getValue().getValue());
        }
        checks.check(echoed, "the untyped argument arrives");
    }

    /** A method that ran but whose outputs Java cannot hold still completes once. */
    private static void methodResultsThatCannotBeConverted(int h) {
        // A key name the client library takes and the Java path parser does not.
        CIMObjectPath target = new CIMObjectPath("Test_Base");
        target.addKey("N\u00b7x", typed("a", CIMDataType.STRING));
        CIMArgument[] args = {new CIMArgument("Ref", typed(target, CIMDataType.REFERENCE))};
        Completions l = new Completions();
        refused("invokeMethod whose output Java refuses", () -> impl.invokeMethod(h, methods(), "EchoTypes", args, l),
                "the method ran");
        checks.same(1, l.calls.size(), "one completion after the method ran");
        checks.check(!l.calls.isEmpty() && l.calls.get(0)[0].equals(RC_FAILED) && l.calls.get(0)[1] == null
                     && l.calls.get(0)[2] == null, "the completion reports the failure without results");
    }

    private static void propertyNamesThatNameNothing(int h) {
        Vector<Object> got = new Vector<>();
        checks.same(0, impl.getProperties(h, got, item("fixed"), new String[] {null, "", "Label"}),
                    "getProperties with null and empty names: " + impl.getLastError());
        checks.same(1, got.size(), "only the named property");
        checks.check(!got.isEmpty() && "Label".equals(((CIMProperty) got.get(0)).getName()), "the property Label");
    }

    /** The path of a getInstance is in the trace even when the client library refuses it. */
    private static void malformedPathIsTracedFirst(int h) throws Exception {
        String home = System.getenv("ORV_HOME");   // set by with_minicimd
        Path trace = home != null ? Paths.get(home, "orvlogs", "brevincimtrc.log") : Paths.get("brevincimtrc.log");
        Files.deleteIfExists(trace);
        CIMObjectPath bad = new CIMObjectPath("Bridge_Item");
        bad.addKey("bad name", typed("x", CIMDataType.STRING));
        impl.toggleNativeTrace(true);
        int rc = impl.getInstance(h, new CIMInstance(), bad);
        impl.toggleNativeTrace(false);
        checks.same(RC_FAILED, rc, "a path the parser refuses");
        String text = Files.exists(trace) ? new String(Files.readAllBytes(trace), StandardCharsets.UTF_8) : "";
        checks.check(text.contains("Instance Object Path = \"Bridge_Item.bad name=\"x\"\""), "the path is traced: " + text);
        Files.deleteIfExists(trace);
    }

    // ------------------------------------------------ caller's objects that throw

    static final class Thrown extends RuntimeException {
        private static final long serialVersionUID = 1L;
        Thrown(String where) { super(where); }
    }

    /** Throws when `method` is the one the object was made to throw from. */
    static void maybe(String where, String method) {
        if (method.equals(where)) throw new Thrown(method);
    }

    static final class ThrowingInstance extends CIMInstance {
        private static final long serialVersionUID = 1L;
        private final String where;
        ThrowingInstance(String where) {
            this.where = where;
            super.setClassName("Bridge_Item");
            setProperty("Id", typed("thrown", CIMDataType.STRING));
        }
        @Override public void setObjectPath(CIMObjectPath p) { maybe(where, "setObjectPath"); super.setObjectPath(p); }
        @Override public void setClassName(String n) { maybe(where, "setClassName"); super.setClassName(n); }
        @Override public void setProperties(Vector v) { maybe(where, "setProperties"); super.setProperties(v); }
        @Override public String getClassName() { maybe(where, "getClassName"); return super.getClassName(); }
        @Override public Vector getProperties() { maybe(where, "getProperties"); return super.getProperties(); }
    }

    static final class ThrowingVector extends Vector<Object> {
        private static final long serialVersionUID = 1L;
        @Override public synchronized boolean add(Object o) { throw new Thrown("add"); }
    }

    static final class ThrowingPath extends CIMObjectPath {
        private static final long serialVersionUID = 1L;
        private final String where;
        ThrowingPath(String where) { this.where = where; }
        @Override public void setObjectName(String n) { maybe(where, "setObjectName"); super.setObjectName(n); }
        @Override public void setNameSpace(String n) { maybe(where, "setNameSpace"); super.setNameSpace(n); }
        @Override public void setHost(String n) { maybe(where, "setHost"); super.setHost(n); }
        @Override public void setKeys(Vector k) { maybe(where, "setKeys"); super.setKeys(k); }
    }

    static final class ThrowingValue extends CIMValue {
        private static final long serialVersionUID = 1L;
        private final String where;
        ThrowingValue(String where, Object o, int type) { super(o, new CIMDataType(type)); this.where = where; }
        @Override public void setValue(Object o) { maybe(where, "setValue"); super.setValue(o); }
        @Override public Object getValue() { maybe(where, "getValue"); return super.getValue(); }
    }

    static final class ThrowingClass extends CIMClass {
        private static final long serialVersionUID = 1L;
        private final String where;
        ThrowingClass(String where) { this.where = where; }
        @Override public void setName(String n) { maybe(where, "setName"); super.setName(n); }
        @Override public void addProperty(CIMProperty p) { maybe(where, "addProperty"); super.addProperty(p); }
        @Override public void addMethod(CIMMethod m) { maybe(where, "addMethod"); super.addMethod(m); }
    }

    /** Listens, and throws from its completion. */
    public static final class ThrowingListener {
        public void methodCallCompleted(int code, CIMValue result, CIMArgument[] outputs, String unused) {
            throw new Thrown("methodCallCompleted");
        }
    }

    /**
     * An exception of one of the caller's own objects stops the operation and
     * reaches the caller; under -Xcheck:jni no JNI call follows it.
     */
    private static void callersObjectsThatThrow(int h) {
        CIMObjectPath fixed = item("fixed");
        CIMObjectPath types = new CIMObjectPath("Bridge_Types");
        types.addKey("Beta", typed("b", CIMDataType.STRING));
        types.addKey("Gamma", typed(new UnsignedInt32(1), CIMDataType.UINT32));
        types.addKey("alpha", typed("a", CIMDataType.STRING));
        CIMArgument[] throwingArgument = {new CIMArgument("Text", new ThrowingValue("getValue", "x", CIMDataType.STRING))};
        Object[][] rows = {
            {"setObjectPath", (Status) () -> impl.getInstance(h, new ThrowingInstance("setObjectPath"), types)},
            {"setClassName", (Status) () -> impl.getInstance(h, new ThrowingInstance("setClassName"), types)},
            {"setProperties", (Status) () -> impl.getInstance(h, new ThrowingInstance("setProperties"), types)},
            {"add", (Status) () -> impl.enumerateInstanceNames(h, new ThrowingVector(), new CIMObjectPath("Bridge_Types"))},
            {"add", (Status) () -> impl.enumerateClassNames(h, new ThrowingVector(), new CIMObjectPath("Bridge_Types"), true)},
            {"add", (Status) () -> impl.getProperties(h, new ThrowingVector(), types, new String[] {"U32", "SA"})},
            {"setValue", (Status) () -> impl.getProperty(h, new ThrowingValue("setValue", null, CIMDataType.NULL), types, "U32")},
            {"getValue", (Status) () -> impl.setProperty(h, fixed, "S", new ThrowingValue("getValue", "x", CIMDataType.STRING))},
            {"getClassName", (Status) () -> impl.createInstance(h, new CIMObjectPath(), item("thrown"), new ThrowingInstance("getClassName"))},
            {"getProperties", (Status) () -> impl.createInstance(h, new CIMObjectPath(), item("thrown"), new ThrowingInstance("getProperties"))},
            {"setNameSpace", (Status) () -> impl.createInstance(h, new ThrowingPath("setNameSpace"), item("thrown"), new ThrowingInstance(null))},
            {"setHost", (Status) () -> impl.createInstance(h, new ThrowingPath("setHost"), item("thrown"), new ThrowingInstance(null))},
            {"setName", (Status) () -> impl.getClass(h, new ThrowingClass("setName"), new CIMObjectPath("Bridge_Types"), false, true, true)},
            {"addProperty", (Status) () -> impl.getClass(h, new ThrowingClass("addProperty"), new CIMObjectPath("Bridge_Types"), false, true, true)},
            {"addMethod", (Status) () -> impl.getClass(h, new ThrowingClass("addMethod"), new CIMObjectPath("Bridge_Types"), false, true, true)},
            {"getValue", (Status) () -> impl.invokeMethod(h, methods(), "Echo", throwingArgument, new Completions())},
            {"methodCallCompleted", (Status) () -> impl.invokeMethod(h, methods(), "Echo", new CIMArgument[0], new ThrowingListener())},
        };
        for (Object[] r : rows) {
            String where = (String) r[0];
            Throwable thrown = null;
            try {
                ((Status) r[1]).run();
            } catch (Throwable t) {
                thrown = t;
            }
            checks.check(thrown instanceof Thrown && where.equals(thrown.getMessage()),
                         where + ": the caller's exception reaches the caller: " + thrown);
            impl.deleteInstance(h, item("thrown"));
            checks.same(0, impl.getProperty(h, new CIMValue(null), fixed, "Label"), where + ": the connection works afterwards");
        }
    }
}
