package com.zandor.retail.orv.mgmt.svc;

import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStream;
import java.lang.management.ManagementFactory;
import java.nio.charset.StandardCharsets;
import java.nio.file.Path;
import java.nio.file.Paths;

/**
 * The sample agent's record of what it was given and what happened to it: a text file
 * in the working directory (the launcher changes to BREVIN_HOME before it creates the
 * JVM), one "key=value" line per fact, appended as things happen. Each line is written
 * with a single write, so a reader never sees half of one unless it reads past the
 * last line end.
 */
final class AgentReport {
    static final String FILE_NAME = "agent-report.txt";

    /** The system properties the launcher sets, and where the JVM thinks it runs. */
    private static final String[] PROPERTIES = {
        "java.class.path",
        "java.library.path",
        "sun.rmi.transport.tcp.connectionPool",
        "java.net.preferIPv4Stack",
        "java.util.logging.config.file",
        "org.apache.commons.logging.Log",
        "-Xrs",
        "com.zandor.retail.orv.mgmt.deviceId",
        "brevin.home",
        "com.zandor.retail.orv.mgmt.config.dir",
        "user.dir",
        "java.vm.name",
        "java.version",
    };

    private AgentReport() {
    }

    static Path file() {
        return Paths.get(System.getProperty("user.dir"), FILE_NAME);
    }

    /** Appends one line (a line end is added). */
    static synchronized void append(String line) {
        byte[] bytes = (line + "\n").getBytes(StandardCharsets.UTF_8);
        try (OutputStream out = new FileOutputStream(file().toFile(), true)) {
            out.write(bytes);
        } catch (IOException e) {
            System.err.println("agent report: cannot write " + file() + ": " + e);
        }
    }

    /** Records the JVM's input arguments, the launcher's properties and main's arguments. */
    static void recordStartup(String[] args) {
        StringBuilder text = new StringBuilder();
        text.append("pid=").append(ProcessHandle.current().pid()).append('\n');
        for (String argument : ManagementFactory.getRuntimeMXBean().getInputArguments()) {
            text.append("input.arg=").append(argument).append('\n');
        }
        for (String name : PROPERTIES) {
            String value = System.getProperty(name);
            if (value == null) {
                text.append("unset.property=").append(name).append('\n');
            } else {
                text.append("property.").append(name).append('=').append(value).append('\n');
            }
        }
        text.append("main.args=").append(args.length).append('\n');
        for (String argument : args) {
            text.append("main.arg=").append(argument).append('\n');
        }
        text.append("main.started");
        append(text.toString());
    }
}
