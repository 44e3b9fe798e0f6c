import com.zandor.retail.orv.mgmt.util.SystemActions;

import java.io.File;
import java.lang.ProcessBuilder.Redirect;

/**
 * The Java halves of the spawn benchmark, called from sysactions_spawn_bench, which runs them
 * in a mount namespace where the shutdown program is the tests' stand-in.
 */
public final class SpawnBench {
    private SpawnBench() {
    }

    /** Starts the shutdown program through the sysactions native; the pid. */
    public static int viaNative() {
        return SystemActions.reboot(0);
    }

    /** Starts the same program the way Java code would, with the same arguments and streams. */
    public static Process viaProcessBuilder(String program) throws java.io.IOException {
        return new ProcessBuilder(program, "-r", "-t", "0", "now")
                .redirectInput(new File("/dev/null"))
                .redirectOutput(Redirect.DISCARD)
                .redirectError(Redirect.DISCARD)
                .start();
    }
}
