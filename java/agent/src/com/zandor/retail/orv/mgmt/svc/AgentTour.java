package com.zandor.retail.orv.mgmt.svc;

import com.zandor.retail.orv.mgmt.util.SystemActions;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.client.CIMImpl;

/**
 * What the demo shows of the native libraries from inside the agent: the network
 * facts of the loopback interface (netinfo) and a connection to the local CIM
 * server (cimbridge). Each result is one "tour." line of the agent's report.
 * Started only when ORV_AGENT_TOUR is set, so the launcher's own tests see
 * nothing of it; halting or rebooting is never part of the tour.
 */
public final class AgentTour {
    private static final String LOOPBACK = "127.0.0.1";

    private AgentTour() {
    }

    public static void run() {
        networkFacts();
        cimConnection();
    }

    private static void networkFacts() {
        try {
            AgentReport.append("tour.netmask." + LOOPBACK + "=" + SystemActions.getNetworkMask(LOOPBACK));
            byte[] mac = SystemActions.getMACAddress(LOOPBACK);
            StringBuilder text = new StringBuilder();
            for (byte b : mac) {
                if (text.length() > 0) {
                    text.append(':');
                }
                text.append(String.format("%02x", b & 0xff));
            }
            AgentReport.append("tour.mac." + LOOPBACK + "=" + text);
        } catch (RuntimeException | LinkageError e) {
            AgentReport.append("tour.netinfo.failed=" + e);
        }
    }

    private static void cimConnection() {
        try {
            CIMImpl.loadLibrary();
            CIMImpl cim = new CIMImpl();
            AgentReport.append("tour.cim.impl=" + CIMImpl.getImplName() + " " + cim.getVersion());
            int handle = cim.setup(new CIMNameSpace("localhost", CIMNameSpace.DEFAULT_NAMESPACE));
            if (handle == 0) {
                AgentReport.append("tour.cim.setup.failed=" + cim.getLastError());
                return;
            }
            AgentReport.append("tour.cim.connected=" + CIMNameSpace.DEFAULT_NAMESPACE + " handle " + handle);
            AgentReport.append("tour.cim.teardown=" + cim.tearDown(handle));
        } catch (RuntimeException | LinkageError e) {
            AgentReport.append("tour.cim.failed=" + e);
        }
    }
}
