package javax.wbem.client;

/**
 * Gives a connection of the CIM bridge an indication listener. A connection
 * made with CIMImpl.setup has none; the demo and the tests use this to show
 * indications reaching Java through a real subscription.
 */
public final class CIMIndicationHook {
    private CIMIndicationHook() {
    }

    /**
     * Starts a CIM-XML export listener on the loopback port (0: any free port)
     * for the connection of the handle; each indication it receives reaches
     * target.forwardIndication(boolean, javax.wbem.cim.CIMInstance). Gives the
     * port the listener is on, or 0 when it could not be attached.
     */
    public static native int attachListener(int handle, Object target, int port);

    /**
     * The URL to give the CIM server as a CIM_ListenerDestination's
     * Destination for the listener of the connection of the handle, or null
     * when it has none. Its path holds a secret made when the listener was
     * attached: the listener refuses exports to any other path, so keep the
     * URL out of logs.
     */
    public static native String destination(int handle);
}
