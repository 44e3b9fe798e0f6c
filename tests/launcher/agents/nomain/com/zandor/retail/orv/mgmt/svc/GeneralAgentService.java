package com.zandor.retail.orv.mgmt.svc;

/** An agent class without main(String[]): only a main that takes nothing. */
public final class GeneralAgentService {
    private GeneralAgentService() {
    }

    public static void main() {
        AgentReport.append("wrong.main");
    }
}
