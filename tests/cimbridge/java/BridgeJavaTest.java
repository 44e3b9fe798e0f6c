import java.util.ArrayList;
import java.util.List;
import javax.wbem.cim.CIMDataType;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMObjectPath;
import javax.wbem.cim.CIMProperty;
import javax.wbem.cim.CIMValue;
import javax.wbem.cim.UnsignedInt64;
import javax.wbem.client.CIMImpl;

/**
 * The Java side of the bridge: the object path parser of javax.wbem.cim and
 * the natives of CIMImpl that need no server (libcimbridge loaded for real).
 * Run with CIM_LOCAL_SOCKET pointing where no server listens.  With
 * --server-may-run (the bridge built against an installed OpenPegasus, whose
 * connectLocal ignores CIM_LOCAL_SOCKET and may reach the machine's own
 * server) the check that a setup without a server gives 0 is skipped.
 */
public final class BridgeJavaTest {
    private static final List<String> failures = new ArrayList<>();
    private static int checks;

    private static void check(boolean ok, String what) {
        checks++;
        if (!ok) {
            failures.add(what);
            System.out.println("FAILED: " + what);
        }
    }

    private static void same(Object expected, Object actual, String what) {
        check(expected == null ? actual == null : expected.equals(actual),
              what + ": expected <" + expected + "> got <" + actual + ">");
    }

    private static void pathParser() {
        CIMObjectPath p = new CIMObjectPath("//host1/root/cimv2:CIM_Foo.Name=\"a\\\"b\\\\c\",Id=5,On=TRUE");
        same("host1", p.getHost(), "host");
        same("root/cimv2", p.getNameSpace(), "namespace");
        same("CIM_Foo", p.getObjectName(), "class");
        same(3, p.getKeys().size(), "key count");
        CIMProperty name = p.getKey("name");
        same("a\"b\\c", name.getValue().getValue(), "unescaped value");
        same(CIMDataType.STRING, name.getType().getType(), "string type");
        same(5L, p.getKey("Id").getValue().getValue(), "number");
        same(Boolean.TRUE, p.getKey("On").getValue().getValue(), "boolean");
        same("//host1/root/cimv2:CIM_Foo.Name=\"a\\\"b\\\\c\",Id=5,On=true", p.toString(), "written back");
        same(p.toString(), new CIMObjectPath(p.toString()).toString(), "round trip");

        CIMObjectPath ref = new CIMObjectPath("CIM_Assoc.Left=\"root/x:CIM_A.K=\\\"v\\\"\",Right=\"plain text\"");
        CIMProperty left = ref.getKey("Left");
        same(CIMDataType.REFERENCE, left.getType().getType(), "reference detected");
        CIMObjectPath inner = (CIMObjectPath) left.getValue().getValue();
        same("root/x", inner.getNameSpace(), "inner namespace");
        same("v", inner.getKey("K").getValue().getValue(), "inner key");
        same(CIMDataType.STRING, ref.getKey("Right").getType().getType(), "plain string stays a string");

        same("CIM_Foo", new CIMObjectPath("CIM_Foo").toString(), "class only");
        same("", new CIMObjectPath("").getObjectName(), "empty");
        same("root/cimv2", new CIMObjectPath("root/cimv2:CIM_Foo").getNameSpace(), "namespace without keys");
        same(0, new CIMObjectPath("CIM_Single=@").getKeys().size(), "singleton");
        same(new UnsignedInt64("18446744073709551615"),
             new CIMObjectPath("X.Big=18446744073709551615").getKey("Big").getValue().getValue(), "uint64 key");
        same(-3L, new CIMObjectPath("X.N=-3").getKey("N").getValue().getValue(), "negative");
        same(7L, new CIMObjectPath("X.N=+7").getKey("N").getValue().getValue(), "plus sign");
        same(0x1FL, new CIMObjectPath("X.N=0x1f").getKey("N").getValue().getValue(), "hex");
        same("a:b.c=d", new CIMObjectPath("X.S=\"a:b.c=d\"").getKey("S").getValue().getValue().toString(),
             "colon and dot inside a value");

        String[][] bad = {
            {"X.a=", "4"}, {"X.a=\"abc", "4"}, {"X.a=1,", "6"}, {"X.=1", "2"}, {"X.a=1 b", "4"},
            {"//hostonly", "2"}, {"X.a=\"x\"y", "7"}, {"1X", "0"}, {":X", "0"}, {"X.a=99999999999999999999999", "4"},
            {"X.a=-", "4"},
        };
        for (String[] b : bad) {
            try {
                new CIMObjectPath(b[0]);
                check(false, "accepted malformed path " + b[0]);
            } catch (IllegalArgumentException e) {
                check(e.getMessage().contains("position " + b[1]), "position in <" + e.getMessage() + "> for " + b[0]);
            }
        }
    }

    private static void nativesWithoutServer(boolean serverMayRun) {
        CIMImpl impl = new CIMImpl();
        same("", impl.getLastError(), "no last error yet");
        same("2.4.6040", impl.getVersion(), "version");
        same(CIMImpl.IMPL_PEGASUS_TOVA, CIMImpl.getImplName(), "implementation name");
        impl.toggleNativeTrace(false);

        same(0, impl.setup(new CIMNameSpace("", null)), "setup without a namespace name");
        check(impl.getLastError().contains("getNameSpace"), "reason for a missing name: " + impl.getLastError());

        same(0, impl.setup(new CIMNameSpace("", "root/with space")), "setup with a rejected name");
        check(!impl.getLastError().isEmpty() && !impl.getLastError().contains("getNameSpace"),
              "reason for a rejected name: " + impl.getLastError());

        if (serverMayRun) {
            System.out.println("SKIPPED: setup without a server (connectLocal may reach the machine's own CIM server)");
        } else {
            same(0, impl.setup(new CIMNameSpace("", "root/cimv2")), "setup without a server");
            check(!impl.getLastError().isEmpty(), "reason for no server: " + impl.getLastError());
        }

        same(0, impl.tearDown(1), "tearDown of an unknown handle");
        same(0, impl.tearDown(1), "tearDown again");

        // Last errors belong to their thread.
        String[] seen = new String[1];
        Thread t = new Thread(() -> seen[0] = impl.getLastError());
        t.start();
        try {
            t.join();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
        }
        same("", seen[0], "another thread's last error");
    }

    public static void main(String[] args) {
        pathParser();
        if (args.length > 0 && args[0].equals("--natives")) {
            CIMImpl.loadLibrary();
            nativesWithoutServer(args.length > 1 && args[1].equals("--server-may-run"));
        }
        System.out.println(checks + " checks, " + failures.size() + " failed");
        System.exit(failures.isEmpty() ? 0 : 1);
    }
}
