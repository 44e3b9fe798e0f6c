import java.util.ArrayList;
import java.util.List;

/** Counted checks for the plain-main Java tests: every failure is printed and the run goes on. */
final class Checks {
    private final List<String> failures = new ArrayList<>();
    private int count;

    void check(boolean ok, String what) {
        count++;
        if (!ok) {
            failures.add(what);
            System.out.println("FAILED: " + what);
        }
    }

    void same(Object expected, Object actual, String what) {
        check(expected == null ? actual == null : expected.equals(actual),
              what + ": expected <" + expected + "> got <" + actual + ">");
    }

    /** Prints the tally and ends the JVM: status 0 only when nothing failed. */
    void finish() {
        System.out.println(count + " checks, " + failures.size() + " failed");
        System.out.flush();
        System.exit(failures.isEmpty() ? 0 : 1);
    }
}
