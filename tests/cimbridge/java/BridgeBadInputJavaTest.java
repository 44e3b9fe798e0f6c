import java.util.Arrays;
import java.util.Vector;
import javax.wbem.cim.CIMArgument;
import javax.wbem.cim.CIMClass;
import javax.wbem.cim.CIMDataType;
import javax.wbem.cim.CIMInstance;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMObjectPath;
import javax.wbem.cim.CIMValue;
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
    // Cases that may succeed: the only null is the object a result goes into,
    // a null path enumerates from the top, a value without a type goes by its
    // value's class.
    private static final String MAY_SUCCEED =
        "(null vector)|(null instance)|(null class)|(null value)|enumerateClassNames\\(null path\\)|(null type)";

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
            {"setProperty(null type)", (Call) x -> impl.setProperty(x, fixed, "S", new CIMValue("x", null))},
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
        impl.tearDown(h);
        checks.finish();
    }
}
