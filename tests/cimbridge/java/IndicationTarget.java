import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.locks.LockSupport;
import javax.wbem.cim.CIMInstance;

/** Receives indications from the bridge's consumer, as an agent's handler does. */
public class IndicationTarget {
    private final List<CIMInstance> received = new ArrayList<>();
    private boolean refuseNext;
    private volatile long delayNanos;

    public void forwardIndication(boolean flag, CIMInstance indication) {
        // Outside the lock: a slow target is slow to its caller, not to the test watching it.
        long delay = delayNanos;
        if (delay > 0) {
            LockSupport.parkNanos(delay);
        }
        record(indication);
    }

    private synchronized void record(CIMInstance indication) {
        received.add(indication);
        notifyAll();
        if (refuseNext) {
            refuseNext = false;
            throw new IllegalStateException("refused");
        }
    }

    public synchronized int count() { return received.size(); }

    public synchronized CIMInstance get(int i) { return received.get(i); }

    /** Each forwardIndication from now on first sleeps this long. */
    public void setDelayMicros(long micros) { delayNanos = micros * 1000; }

    /** The next forwardIndication throws after recording. */
    public synchronized void refuseNext() { refuseNext = true; }

    /** Waits until `n` indications have arrived or `millis` have passed. */
    public synchronized boolean await(int n, long millis) throws InterruptedException {
        long end = System.currentTimeMillis() + millis;
        while (received.size() < n) {
            long left = end - System.currentTimeMillis();
            if (left <= 0) return false;
            wait(left);
        }
        return true;
    }
}
