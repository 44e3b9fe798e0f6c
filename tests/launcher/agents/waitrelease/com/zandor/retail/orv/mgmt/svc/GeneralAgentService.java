package com.zandor.retail.orv.mgmt.svc;

import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.Paths;

/** An agent whose main keeps running until a file named "release" appears beside its report. */
public final class GeneralAgentService {
    private static final long POLL_MILLIS = 50;
    private static final long CEILING_MILLIS = 180_000; // never outlive a forgotten test

    private GeneralAgentService() {
    }

    public static void main(String[] args) throws InterruptedException {
        AgentReport.recordStartup(args);
        Path release = Paths.get(System.getProperty("user.dir"), "release");
        AgentReport.append("main.waiting");
        long deadline = System.currentTimeMillis() + CEILING_MILLIS;
        while (!Files.exists(release) && System.currentTimeMillis() < deadline) {
            Thread.sleep(POLL_MILLIS);
        }
        AgentReport.append("main.returned");
    }
}
