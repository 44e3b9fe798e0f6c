import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.nio.charset.StandardCharsets;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import java.util.Vector;
import javax.wbem.cim.CIMArgument;
import javax.wbem.cim.CIMDataType;
import javax.wbem.cim.CIMDateTime;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMObjectPath;
import javax.wbem.cim.CIMValue;
import javax.wbem.cim.UnsignedInt32;
import javax.wbem.cim.UnsignedInt64;
import javax.wbem.cim.UnsignedInt8;
import javax.wbem.client.CIMImpl;

/**
 * invokeMethod through CIMImpl against minicimd's method providers (run by
 * with_minicimd with the test schema).
 */
public final class BridgeMethodsJavaTest {
    private static final Checks checks = new Checks();
    private static final CIMImpl impl = new CIMImpl();
    private static final String NS = "root/cimv2";
    private static final int RC_INVALID_PARAMETER = 0x30000007;
    private static final int RC_NOT_FOUND = 0x30000009;
    private static final int RC_METHOD_NOT_AVAILABLE = 0x30000013;
    private static final int RC_METHOD_NOT_FOUND = 0x30000014;

    /** Records every completion. */
    public static class Listener {
        final List<Object[]> calls = new ArrayList<>();
        public void methodCallCompleted(int code, CIMValue result, CIMArgument[] outputs, String unused) {
            calls.add(new Object[] {code, result, outputs, unused});
        }
    }

    /** A completion method of another signature. */
    public static class WrongListener {
        int calls;
        public void methodCallCompleted(int code, CIMValue result, CIMArgument[] outputs) { calls++; }
    }

    private static CIMValue typed(Object o, int t) { return new CIMValue(o, new CIMDataType(t)); }

    private static CIMObjectPath methods() {
        CIMObjectPath p = new CIMObjectPath("Test_Methods");
        p.addKey("Name", typed("m", CIMDataType.STRING));
        return p;
    }

    private static CIMArgument arg(String name, Object value, int type) { return new CIMArgument(name, typed(value, type)); }

    private static Object[] call(int h, String method, CIMArgument[] args, int expectedRc) {
        Listener l = new Listener();
        int rc = impl.invokeMethod(h, methods(), method, args, l);
        checks.same(expectedRc, rc, method + " result: " + impl.getLastError());
        checks.same(1, l.calls.size(), method + ": one completion");
        if (l.calls.isEmpty()) return new Object[] {null, null, null, null};
        checks.same(rc, l.calls.get(0)[0], method + ": the completion's code");
        checks.same(null, l.calls.get(0)[3], method + ": the last argument is null");
        return l.calls.get(0);
    }

    private static Object output(CIMArgument[] outputs, String name) {
        for (CIMArgument a : outputs) {
            if (a.getName().equals(name)) return a.getValue() == null ? null : a.getValue().getValue();
        }
        checks.check(false, "no output " + name);
        return null;
    }

    private static CIMDataType outputType(CIMArgument[] outputs, String name) {
        for (CIMArgument a : outputs) {
            if (a.getName().equals(name)) return a.getValue().getType();
        }
        return null;
    }

    private static void echoEveryType(int h) {
        CIMObjectPath target = new CIMObjectPath("Test_Base");
        target.addKey("Name", typed("alpha", CIMDataType.STRING));
        Object[][] cases = {
            // name, value sent, type, value received (the unsigned classes come back)
            {"Text", "caf\u00e9 \ud834\udd1e", CIMDataType.STRING, "caf\u00e9 \ud834\udd1e"},
            {"B", true, CIMDataType.BOOLEAN, true},
            {"U8", new UnsignedInt8((short) 200), CIMDataType.UINT8, new UnsignedInt8((short) 200)},
            {"S8", (byte) -1, CIMDataType.SINT8, (byte) -1},
            {"U32", new UnsignedInt32(4294967295L), CIMDataType.UINT32, new UnsignedInt32(4294967295L)},
            {"S32", -7, CIMDataType.SINT32, -7},
            {"U64", new UnsignedInt64(new byte[] {(byte) 0x80, 0, 0, 0, 0, 0, 0, 0}), CIMDataType.UINT64,
                new UnsignedInt64(new byte[] {(byte) 0x80, 0, 0, 0, 0, 0, 0, 0})},
            {"S64", Long.MIN_VALUE, CIMDataType.SINT64, Long.MIN_VALUE},
            {"R32", 0.5f, CIMDataType.REAL32, 0.5f},
            {"R64", -1.25, CIMDataType.REAL64, -1.25},
            {"C16", '\u00e9', CIMDataType.CHAR16, '\u00e9'},
            {"DT", new CIMDateTime("00000001020304.000005:000"), CIMDataType.DATETIME, new CIMDateTime("00000001020304.000005:000")},
            {"U8A", new Vector<>(Arrays.asList(new UnsignedInt8((short) 0), new UnsignedInt8((short) 255))), CIMDataType.UINT8_ARRAY,
                new Vector<>(Arrays.asList(new UnsignedInt8((short) 0), new UnsignedInt8((short) 255)))},
            {"S64A", new Vector<>(Arrays.asList(-1L)), CIMDataType.SINT64_ARRAY, new Vector<>(Arrays.asList(-1L))},
            {"SA", new Vector<>(), CIMDataType.STRING_ARRAY, new Vector<>()},
            {"BA", new Vector<>(Arrays.asList(false, true)), CIMDataType.BOOLEAN_ARRAY, new Vector<>(Arrays.asList(false, true))},
        };
        List<CIMArgument> args = new ArrayList<>();
        for (Object[] c : cases) args.add(arg((String) c[0], c[1], (Integer) c[2]));
        args.add(arg("Ref", target, CIMDataType.REFERENCE));
        Object[] done = call(h, "EchoTypes", args.toArray(new CIMArgument[0]), 0);
        CIMValue result = (CIMValue) done[1];
        checks.same("caf\u00e9 \ud834\udd1e", result == null ? null : result.getValue(), "scalar return value");
        checks.same(new CIMDataType(CIMDataType.STRING), result == null ? null : result.getType(), "return type");
        CIMArgument[] outputs = (CIMArgument[]) done[2];
        if (outputs == null) {
            checks.check(false, "outputs");
            return;
        }
        for (Object[] c : cases) {
            checks.same(c[3], output(outputs, (String) c[0]), "output " + c[0]);
            checks.same(new CIMDataType((Integer) c[2]), outputType(outputs, (String) c[0]), "output type " + c[0]);
        }
        Object ref = output(outputs, "Ref");
        checks.check(ref instanceof CIMObjectPath && "Test_Base".equals(((CIMObjectPath) ref).getObjectName()),
                     "reference output: " + ref);
    }

    private static void outputsAndFailures(int h) {
        Object[] done = call(h, "Outputs", new CIMArgument[0], 0);
        CIMArgument[] outputs = (CIMArgument[]) done[2];
        List<String> names = new ArrayList<>();
        for (CIMArgument a : outputs) names.add(a.getName());
        checks.same(Arrays.asList("Numbers", "Words", "Stamp", "Interval", "Target", "Targets"), names, "the server's order");
        checks.same(new Vector<>(Arrays.asList(new UnsignedInt32(1), new UnsignedInt32(2), new UnsignedInt32(4294967295L))),
                    output(outputs, "Numbers"), "uint32 array output");
        checks.same(new CIMDateTime("00000001020304.500000:000"), output(outputs, "Interval"), "interval output");
        checks.same(new CIMDataType(CIMDataType.REFERENCE_ARRAY), outputType(outputs, "Targets"), "reference array type");
        Object targets = output(outputs, "Targets");
        checks.check(targets instanceof Vector && !((Vector<?>) targets).isEmpty()
                     && ((Vector<?>) targets).get(0) instanceof CIMObjectPath, "reference array output: " + targets);

        // No output parameters: a zero-length array, not null.
        done = call(h, "Fail", new CIMArgument[] {arg("Code", new UnsignedInt32(0), CIMDataType.UINT32)}, 0);
        checks.same(0, ((CIMArgument[]) done[2]).length, "no outputs");
        done = call(h, "Fail", null, 0);
        checks.same(0, ((CIMArgument[]) done[2]).length, "a null argument array counts as empty");

        done = call(h, "Fail", new CIMArgument[] {arg("Code", new UnsignedInt32(6), CIMDataType.UINT32),
                                                    arg("Message", "gone fishing", CIMDataType.STRING)}, RC_NOT_FOUND);
        checks.same(null, done[1], "no return value on a CIM error");
        checks.same(null, done[2], "no outputs on a CIM error");
        checks.check(impl.getLastError().contains("gone fishing"), "the server's message: " + impl.getLastError());
        call(h, "Unserved", new CIMArgument[0], RC_METHOD_NOT_AVAILABLE);
        call(h, "NoSuchMethod", new CIMArgument[0], RC_METHOD_NOT_FOUND);
        call(h, "EchoTypes", new CIMArgument[] {arg("Nope", "x", CIMDataType.STRING)}, RC_INVALID_PARAMETER);

        // Failures before the server call: the general code, through the listener too.
        String last = impl.getLastError();
        call(h, "Bad Name", new CIMArgument[0], CIMImpl.RC_FAILED);
        checks.same(last, impl.getLastError(), "last error unchanged");
    }

    private static void listeners(int h) throws Exception {
        Path trace = Paths.get(System.getenv("ORV_HOME"), "orvlogs", "brevincimtrc.log");
        impl.toggleNativeTrace(true);
        int from = Files.exists(trace) ? Files.readAllLines(trace, StandardCharsets.UTF_8).size() : 0;
        WrongListener wrong = new WrongListener();
        checks.same(CIMImpl.RC_NO_COMPLETION_METHOD, impl.invokeMethod(h, methods(), "Fail", new CIMArgument[0], wrong),
                    "another signature");
        checks.same(0, wrong.calls, "no callback");
        checks.same(CIMImpl.RC_NO_COMPLETION_METHOD, impl.invokeMethod(h, methods(), "Fail", new CIMArgument[0], "text"),
                    "a listener without the method");
        call(h, "Outputs", new CIMArgument[0], 0);
        impl.toggleNativeTrace(false);
        List<String> lines = new ArrayList<>();
        List<String> all = Files.readAllLines(trace, StandardCharsets.UTF_8);
        for (String line : all.subList(from, all.size())) {
            String m = line.substring(line.indexOf(": ") + 2);
            if (m.contains("invokeMethod")) lines.add(m);
        }
        checks.same(Arrays.asList("XXX: invokeMethod(): outputs array size = 6",
                                  "XXX: invokeMethod: output property \"Numbers\"",
                                  "XXX: invokeMethod: output property \"Words\"",
                                  "XXX: invokeMethod: output property \"Stamp\"",
                                  "XXX: invokeMethod: output property \"Interval\"",
                                  "XXX: invokeMethod: output property \"Target\"",
                                  "XXX: invokeMethod: output property \"Targets\""), lines,
                    "trace lines, and none for the refused listeners");

        // A callback that calls another native on the same thread is refused, not deadlocked.
        final int handle = h;
        final int[] inner = {-1};
        Object reentrant = new Object() {
            public void methodCallCompleted(int code, CIMValue r, CIMArgument[] o, String s) {
                inner[0] = impl.invokeMethod(handle, methods(), "Fail", new CIMArgument[0], new Listener());
            }
        };
        checks.same(0, impl.invokeMethod(h, methods(), "Fail", new CIMArgument[0], reentrant), "outer call");
        checks.same(CIMImpl.RC_FAILED, inner[0], "inner call refused");

        int gone = impl.setup(new CIMNameSpace("", NS));
        impl.tearDown(gone);
        Listener l = new Listener();
        checks.same(CIMImpl.RC_NO_CONNECTION, impl.invokeMethod(gone, methods(), "Fail", new CIMArgument[0], l), "torn down");
        checks.same(0, l.calls.size(), "no callback for a torn-down handle");
    }

    public static void main(String[] args) throws Exception {
        CIMImpl.loadLibrary();
        if (args.length == 1 && args[0].equals("--with-server")) {
            int h = impl.setup(new CIMNameSpace("", NS));
            checks.check(h > 0, "setup: " + impl.getLastError());
            echoEveryType(h);
            outputsAndFailures(h);
            listeners(h);
            impl.tearDown(h);
        }
        checks.finish();
    }
}
