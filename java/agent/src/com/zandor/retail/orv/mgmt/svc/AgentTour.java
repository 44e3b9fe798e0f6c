package com.zandor.retail.orv.mgmt.svc;

import com.zandor.retail.orv.mgmt.util.SystemActions;
import java.nio.charset.StandardCharsets;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;
import java.util.ArrayList;
import java.util.List;
import java.util.Vector;
import javax.wbem.cim.CIMArgument;
import javax.wbem.cim.CIMClass;
import javax.wbem.cim.CIMDataType;
import javax.wbem.cim.CIMInstance;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMObjectPath;
import javax.wbem.cim.CIMProperty;
import javax.wbem.cim.CIMValue;
import javax.wbem.client.CIMImpl;
import javax.wbem.client.CIMIndicationHook;

/**
 * What the demo shows of the native libraries from inside the agent: every
 * native of the CIM bridge against the local CIM server (an indication
 * through a subscription included), and the network facts
 * of the loopback interface. Each call is one "tour.step" line of the agent's
 * report (name, what was asked, what came back, microseconds); a call that went
 * wrong is a "tour.failed" line. Started only when ORV_AGENT_TOUR is set, so the
 * launcher's own tests see nothing of it; halting or rebooting is never part of it.
 */
public final class AgentTour {
    private static final String LOOPBACK = "127.0.0.1";
    private static final String STORE_NAMESPACE = "root/cimv2";
    private static final String METHODS_NAMESPACE = "root/test";
    private static final String INTEROP_NAMESPACE = "root/interop";
    private static final long INDICATION_WAIT_MILLIS = 10000;
    private static final long NANOS_PER_MICRO = 1000;

    private static final CIMImpl cim = new CIMImpl();

    private AgentTour() {
    }

    /** One call of the tour: what it gives back, as text; an exception fails the step. */
    private interface Call {
        String run() throws Exception;
    }

    private static void step(String name, String asked, Call call) {
        long start = System.nanoTime();
        try {
            String got = call.run();
            long micros = (System.nanoTime() - start) / NANOS_PER_MICRO;
            AgentReport.append("tour.step=" + name + "|" + asked + "|" + got + "|" + micros);
        } catch (Exception | LinkageError e) {
            AgentReport.append("tour.failed=" + name + ": " + e);
        }
    }

    /** The status of a CIM call, or a failure with its last error. */
    private static int ok(int rc, String what) {
        if (rc != 0) {
            throw new IllegalStateException(what + " gave 0x" + Integer.toHexString(rc) + ": " + cim.getLastError());
        }
        return rc;
    }

    public static void run() {
        step("netinfo.mask", "getNetworkMask(" + LOOPBACK + ")", () -> SystemActions.getNetworkMask(LOOPBACK));
        step("netinfo.mac", "getMACAddress(" + LOOPBACK + ")", () -> hex(SystemActions.getMACAddress(LOOPBACK)));
        try {
            CIMImpl.loadLibrary();
        } catch (LinkageError e) {
            AgentReport.append("tour.failed=cimbridge: " + e);
            return;
        }
        step("cim.version", "getVersion, getImplName", () -> cim.getVersion() + ", " + CIMImpl.getImplName());
        int[] handle = {0};
        step("cim.setup", "setup(" + STORE_NAMESPACE + ")", () -> {
            handle[0] = cim.setup(new CIMNameSpace("localhost", STORE_NAMESPACE));
            if (handle[0] == 0) throw new IllegalStateException(cim.getLastError());
            return "handle " + handle[0];
        });
        if (handle[0] == 0) {
            return;
        }
        Receiver receiver = new Receiver();
        int interop = subscribe(receiver);
        store(handle[0]);
        if (interop != 0) {
            step("cim.indication", "CIM_InstCreation through the subscription", () -> {
                CIMInstance indication = receiver.await(INDICATION_WAIT_MILLIS);
                if (indication == null) throw new IllegalStateException("none arrived in " + INDICATION_WAIT_MILLIS + " ms");
                CIMProperty time = indication.getProperty("IndicationTime");
                return indication.getClassName() + " at " + (time == null ? null : time.getValue()) + ", "
                    + indication.getProperties().size() + " properties";
            });
            cim.tearDown(interop);
        }
        trace(handle[0]);
        step("cim.teardown", "tearDown(" + handle[0] + ")", () -> String.valueOf(cim.tearDown(handle[0])));
        methods();
    }

    /** Where the bridge's listener hands the indications it receives. */
    public static final class Receiver {
        private CIMInstance first;

        public synchronized void forwardIndication(boolean flag, CIMInstance indication) {
            if (first == null) {
                first = indication;
                notifyAll();
            }
        }

        synchronized CIMInstance await(long millis) throws InterruptedException {
            long end = System.currentTimeMillis() + millis;
            while (first == null && System.currentTimeMillis() < end) {
                wait(Math.max(1, end - System.currentTimeMillis()));
            }
            return first;
        }
    }

    private static CIMValue text(String value) {
        return new CIMValue(value, new CIMDataType(CIMDataType.STRING));
    }

    /**
     * A listener on a free loopback port for a connection to the interop
     * namespace, and a subscription to the creation of instances in the store's
     * namespace; gives the connection's handle, 0 when any of it failed.
     */
    private static int subscribe(Receiver receiver) {
        int[] h = {0};
        step("cim.subscribe", "listener, filter, destination, subscription in " + INTEROP_NAMESPACE, () -> {
            h[0] = cim.setup(new CIMNameSpace("localhost", INTEROP_NAMESPACE));
            if (h[0] == 0) throw new IllegalStateException(cim.getLastError());
            int port = CIMIndicationHook.attachListener(h[0], receiver, 0);
            if (port == 0) throw new IllegalStateException("no listener");
            String url = CIMIndicationHook.destination(h[0]);
            if (url == null) throw new IllegalStateException("no listener destination");
            CIMInstance filter = new CIMInstance();
            filter.setClassName("CIM_IndicationFilter");
            filter.setProperty("Name", text("orv-demo"));
            filter.setProperty("Query", text("SELECT * FROM CIM_InstCreation"));
            filter.setProperty("QueryLanguage", text("WQL"));
            filter.setProperty("SourceNamespace", text(STORE_NAMESPACE));
            CIMObjectPath filterPath = new CIMObjectPath();
            ok(cim.createInstance(h[0], filterPath, new CIMObjectPath("CIM_IndicationFilter.Name=\"orv-demo\""), filter),
               "createInstance of the filter");
            CIMInstance destination = new CIMInstance();
            destination.setClassName("CIM_ListenerDestinationCIMXML");
            destination.setProperty("Name", text("orv-demo"));
            destination.setProperty("Destination", text(url));
            CIMObjectPath destinationPath = new CIMObjectPath();
            ok(cim.createInstance(h[0], destinationPath,
                                  new CIMObjectPath("CIM_ListenerDestinationCIMXML.Name=\"orv-demo\""), destination),
               "createInstance of the destination");
            CIMInstance subscription = new CIMInstance();
            subscription.setClassName("CIM_IndicationSubscription");
            subscription.setProperty("Filter", new CIMValue(filterPath, new CIMDataType(CIMDataType.REFERENCE)));
            subscription.setProperty("Handler", new CIMValue(destinationPath, new CIMDataType(CIMDataType.REFERENCE)));
            CIMObjectPath subscriptionPath = new CIMObjectPath();
            ok(cim.createInstance(h[0], subscriptionPath, new CIMObjectPath("CIM_IndicationSubscription"), subscription),
               "createInstance of the subscription");
            return "listener on port " + port + ", " + subscriptionPath.getObjectName();
        });
        return h[0];
    }

    private static CIMObjectPath className(String name) {
        CIMObjectPath p = new CIMObjectPath();
        p.setObjectName(name);
        return p;
    }

    private static CIMObjectPath port(String deviceId) {
        CIMObjectPath p = new CIMObjectPath("CIM_EthernetPort");
        p.addKey("CreationClassName", new CIMValue("CIM_EthernetPort", new CIMDataType(CIMDataType.STRING)));
        p.addKey("DeviceID", new CIMValue(deviceId, new CIMDataType(CIMDataType.STRING)));
        p.addKey("SystemCreationClassName", new CIMValue("CIM_ComputerSystem", new CIMDataType(CIMDataType.STRING)));
        p.addKey("SystemName", new CIMValue("till-07", new CIMDataType(CIMDataType.STRING)));
        return p;
    }

    private static void store(int h) {
        step("cim.enumerateClassNames", "subclasses of CIM_LogicalDevice, deep", () -> {
            Vector<Object> names = new Vector<>();
            ok(cim.enumerateClassNames(h, names, className("CIM_LogicalDevice"), true), "enumerateClassNames");
            return names.toString();
        });
        step("cim.enumerateInstanceNames", "the till's network ports", () -> {
            Vector<Object> paths = new Vector<>();
            ok(cim.enumerateInstanceNames(h, paths, className("CIM_EthernetPort")), "enumerateInstanceNames");
            return paths.size() + " ports";
        });
        step("cim.getInstance", "port eth0", () -> {
            CIMInstance inst = new CIMInstance();
            ok(cim.getInstance(h, inst, port("eth0")), "getInstance");
            return inst.getClassName() + " " + value(inst, "ElementName") + ", " + inst.getProperties().size()
                + " properties, Speed " + value(inst, "Speed");
        });
        step("cim.getClass", "class CIM_OperatingSystem", () -> {
            CIMClass cls = new CIMClass();
            ok(cim.getClass(h, cls, className("CIM_OperatingSystem"), false, true, true), "getClass");
            return cls.getProperties().size() + " properties, " + cls.getMethods().size() + " methods";
        });
        step("cim.getProperty", "eth1 PermanentAddress", () -> {
            CIMValue v = new CIMValue(null);
            ok(cim.getProperty(h, v, port("eth1"), "PermanentAddress"), "getProperty");
            return String.valueOf(v.getValue());
        });
        step("cim.getProperties", "eth1 Speed, FullDuplex", () -> {
            Vector<Object> props = new Vector<>();
            ok(cim.getProperties(h, props, port("eth1"), new String[] {"Speed", "FullDuplex"}), "getProperties");
            List<String> out = new ArrayList<>();
            for (Object o : props) out.add(((CIMProperty) o).getName() + "=" + ((CIMProperty) o).getValue());
            return String.join(", ", out);
        });
        step("cim.setProperty", "eth1 ElementName, read back", () -> {
            ok(cim.setProperty(h, port("eth1"), "ElementName",
                               new CIMValue("Card reader link", new CIMDataType(CIMDataType.STRING))), "setProperty");
            CIMValue v = new CIMValue(null);
            ok(cim.getProperty(h, v, port("eth1"), "ElementName"), "getProperty");
            return String.valueOf(v.getValue());
        });
        step("cim.createInstance", "port eth9", () -> {
            CIMInstance inst = new CIMInstance();
            inst.setClassName("CIM_EthernetPort");
            for (Object key : port("eth9").getKeys()) {
                CIMProperty k = (CIMProperty) key;
                inst.setProperty(k.getName(), k.getValue());
            }
            inst.setProperty("ElementName", new CIMValue("Spare port", new CIMDataType(CIMDataType.STRING)));
            CIMObjectPath created = new CIMObjectPath();
            ok(cim.createInstance(h, created, port("eth9"), inst), "createInstance");
            return created.toString();
        });
        step("cim.deleteInstance", "port eth9", () -> {
            ok(cim.deleteInstance(h, port("eth9")), "deleteInstance");
            Vector<Object> paths = new Vector<>();
            ok(cim.enumerateInstanceNames(h, paths, className("CIM_EthernetPort")), "enumerateInstanceNames");
            return paths.size() + " ports left";
        });
    }

    /** Receives the outcome of invokeMethod. */
    public static final class Completion {
        String outcome = "no callback";

        public void methodCallCompleted(int code, CIMValue result, CIMArgument[] outputs, String unused) {
            outcome = "callback: code " + code + ", result " + result + ", " + (outputs == null ? 0 : outputs.length)
                + " output arguments";
        }
    }

    private static void methods() {
        step("cim.invokeMethod", "Test_Methods.Echo(Text) in " + METHODS_NAMESPACE, () -> {
            int h = cim.setup(new CIMNameSpace("localhost", METHODS_NAMESPACE));
            if (h == 0) throw new IllegalStateException(cim.getLastError());
            try {
                CIMObjectPath target = new CIMObjectPath("Test_Methods");
                target.addKey("Name", new CIMValue("m", new CIMDataType(CIMDataType.STRING)));
                Completion completion = new Completion();
                CIMArgument[] args = {new CIMArgument("Text",
                                                      new CIMValue("hello from the till", new CIMDataType(CIMDataType.STRING)))};
                ok(cim.invokeMethod(h, target, "Echo", args, completion), "invokeMethod");
                return completion.outcome;
            } finally {
                cim.tearDown(h);
            }
        });
    }

    private static void trace(int h) {
        step("cim.toggleNativeTrace", "trace one getInstance", () -> {
            Path file = Paths.get(System.getenv("ORV_HOME"), "orvlogs", "brevincimtrc.log");
            Files.createDirectories(file.getParent());
            int before = Files.exists(file) ? Files.readAllLines(file, StandardCharsets.UTF_8).size() : 0;
            cim.toggleNativeTrace(true);
            try {
                ok(cim.getInstance(h, new CIMInstance(), port("eth0")), "getInstance");
            } finally {
                cim.toggleNativeTrace(false);
            }
            List<String> lines = Files.readAllLines(file, StandardCharsets.UTF_8);
            for (String line : lines.subList(before, lines.size())) {
                AgentReport.append("tour.trace=" + line);
            }
            return (lines.size() - before) + " lines in " + file;
        });
    }

    private static Object value(CIMInstance inst, String name) {
        CIMProperty p = inst.getProperty(name);
        return p == null || p.getValue() == null ? null : p.getValue().getValue();
    }

    private static String hex(byte[] mac) {
        StringBuilder text = new StringBuilder();
        for (byte b : mac) {
            if (text.length() > 0) {
                text.append(':');
            }
            text.append(String.format("%02x", b & 0xff));
        }
        return text.toString();
    }
}
