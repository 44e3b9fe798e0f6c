package com.zandor.retail.orv.mgmt.svc;

/**
 * Receives service control events from the launcher; code 1 means the service is
 * being stopped. The sample agent only records each code it is given.
 */
public final class SCMEventManager {
    /** The event code the launcher sends when the service is stopped. */
    public static final int SHUTDOWN = 1;

    private static final SCMEventManager INSTANCE = new SCMEventManager();

    private SCMEventManager() {
    }

    public static SCMEventManager getInstance() {
        return INSTANCE;
    }

    public void dispatchSCMEvent(int code) {
        AgentReport.append("event=" + code);
        if (code == SHUTDOWN) {
            AgentReport.append("shutdown.requested");
        }
    }
}
