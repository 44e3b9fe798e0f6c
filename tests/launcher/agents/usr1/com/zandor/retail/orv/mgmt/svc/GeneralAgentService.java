package com.zandor.retail.orv.mgmt.svc;

/**
 * An agent that loads a native library installing a SIGUSR1 handler without
 * SA_RESTART, as native libraries may. The library comes from the library path the
 * launcher sets (BREVIN_HOME/lib).
 */
public final class GeneralAgentService {
    private GeneralAgentService() {
    }

    public static void main(String[] args) {
        AgentReport.recordStartup(args);
        System.loadLibrary("orvtestusr1");
        TestSignals.installUsr1Handler(
            java.nio.file.Paths.get(System.getProperty("user.dir"), "usr1-marks.txt").toString());
        AgentReport.append("usr1.handler.installed");
        AgentReport.append("main.returned");
    }
}
