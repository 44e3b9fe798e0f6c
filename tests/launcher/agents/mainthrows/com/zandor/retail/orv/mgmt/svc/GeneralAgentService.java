package com.zandor.retail.orv.mgmt.svc;

/** An agent whose main ends with an uncaught exception. */
public final class GeneralAgentService {
    private GeneralAgentService() {
    }

    public static void main(String[] args) {
        AgentReport.recordStartup(args);
        AgentReport.append("main.throwing");
        throw new IllegalStateException("sample agent failure");
    }
}
