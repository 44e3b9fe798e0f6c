package com.zandor.retail.orv.mgmt.svc;

/** A manager without dispatchSCMEvent(int); the String overload must not be taken for it. */
public final class SCMEventManager {
    private static final SCMEventManager INSTANCE = new SCMEventManager();

    private SCMEventManager() {
    }

    public static SCMEventManager getInstance() {
        return INSTANCE;
    }

    public void dispatchSCMEvent(String code) {
        AgentReport.append("wrong.event=" + code);
    }
}
