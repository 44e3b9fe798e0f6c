import java.io.InputStream;
import java.io.OutputStream;
import java.net.Socket;
import java.nio.charset.StandardCharsets;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.client.CIMImpl;
import javax.wbem.client.CIMIndicationHook;

/**
 * The JVM exits while connections with listeners are open and indications
 * keep arriving (run by with_minicimd): the process ends with the status
 * System.exit gave it, whatever the listener threads were doing in the bridge.
 */
public final class BridgeExitJavaTest {
    private static final String NS = "root/cimv2";
    private static final int CONNECTIONS = 3;
    private static final int BEFORE_EXIT = 50;   // indications received before the exit
    private static final long WAIT_MILLIS = 60_000;
    private static final int EXIT_STATUS = 0;
    private static final int FAILURE = 1;

    private BridgeExitJavaTest() {
    }

    private static String export(String path, int n) {
        String body = "<?xml version=\"1.0\" encoding=\"utf-8\" ?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">"
            + "<MESSAGE ID=\"" + n + "\" PROTOCOLVERSION=\"1.0\"><SIMPLEEXPREQ><EXPMETHODCALL NAME=\"ExportIndication\">"
            + "<EXPPARAMVALUE NAME=\"NewIndication\"><INSTANCE CLASSNAME=\"Bridge_Item\">"
            + "<PROPERTY NAME=\"Id\" TYPE=\"string\"><VALUE>exit " + n + "</VALUE></PROPERTY>"
            + "</INSTANCE></EXPPARAMVALUE></EXPMETHODCALL></SIMPLEEXPREQ></MESSAGE></CIM>";
        byte[] bytes = body.getBytes(StandardCharsets.UTF_8);
        return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/xml; charset=utf-8\r\n"
            + "CIMExport: MethodRequest\r\nCIMExportMethod: ExportIndication\r\nContent-Length: " + bytes.length
            + "\r\n\r\n" + body;
    }

    /** Sends exports to the listener's destination for ever, one connection each. */
    private static void sendForEver(int port, String path) {
        byte[] buffer = new byte[4096];
        for (int n = 0;; n++) {
            try (Socket s = new Socket("127.0.0.1", port)) {
                OutputStream out = s.getOutputStream();
                out.write(export(path, n).getBytes(StandardCharsets.UTF_8));
                out.flush();
                InputStream in = s.getInputStream();
                in.read(buffer);
            } catch (Exception e) {
                Thread.yield();
            }
        }
    }

    public static void main(String[] args) throws Exception {
        CIMImpl.loadLibrary();
        if (!(args.length == 1 && args[0].equals("--with-server"))) {
            return;
        }
        CIMImpl impl = new CIMImpl();
        IndicationTarget target = new IndicationTarget();
        for (int i = 0; i < CONNECTIONS; i++) {
            int h = impl.setup(new CIMNameSpace("", NS));
            int port = h > 0 ? CIMIndicationHook.attachListener(h, target, 0) : 0;
            if (port <= 0) {
                System.out.println("FAILED: no listener: " + impl.getLastError());
                System.exit(FAILURE);
            }
            String url = CIMIndicationHook.destination(h);
            String path = url.substring(url.indexOf('/', "http://".length()));
            Thread sender = new Thread(() -> sendForEver(port, path), "sender " + i);
            sender.setDaemon(true);
            sender.start();
        }
        if (!target.await(BEFORE_EXIT, WAIT_MILLIS)) {
            System.out.println("FAILED: only " + target.count() + " indications arrived");
            System.exit(FAILURE);
        }
        System.out.println(target.count() + " indications arrived; exiting with the listeners busy");
        System.out.flush();
        System.exit(EXIT_STATUS);
    }
}
