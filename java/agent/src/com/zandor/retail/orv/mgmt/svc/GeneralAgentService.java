package com.zandor.retail.orv.mgmt.svc;

/**
 * The sample agent's entry point. The launcher calls main on its own main thread and
 * waits for SIGTERM once main has returned, so main records what it was given and
 * returns at once; a real agent would start its (daemon) service threads here.
 */
public final class GeneralAgentService {
    private GeneralAgentService() {
    }

    public static void main(String[] args) {
        AgentReport.recordStartup(args);
        if (System.getenv("ORV_AGENT_TOUR") != null) {
            runTour();
        }
        AgentReport.append("main.returned");
    }

    /** Found by name, so builds of the agent without the tour (test variants) still run. */
    private static void runTour() {
        try {
            Class.forName("com.zandor.retail.orv.mgmt.svc.AgentTour").getMethod("run").invoke(null);
        } catch (ReflectiveOperationException | LinkageError e) {
            AgentReport.append("tour.unavailable=" + e);
        }
    }
}
