package com.zandor.retail.orv.mgmt.svc;

/** A manager whose accessor yields nothing: the launcher must do without a relay. */
public final class SCMEventManager {
    private SCMEventManager() {
    }

    public static SCMEventManager getInstance() {
        AgentReport.append("getInstance.null");
        return null;
    }

    public void dispatchSCMEvent(int code) {
        AgentReport.append("event=" + code);
    }
}
