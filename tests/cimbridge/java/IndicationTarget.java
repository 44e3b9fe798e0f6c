import java.util.ArrayList;
import java.util.List;
import javax.wbem.cim.CIMInstance;

/** Receives indications from the bridge's consumer, as an agent's handler does. */
public class IndicationTarget {
    private final List<CIMInstance> received = new ArrayList<>();
    private boolean refuseNext;

    public synchronized void forwardIndication(boolean flag, CIMInstance indication) {
        received.add(indication);
        notifyAll();
        if (refuseNext) {
            refuseNext = false;
            throw new IllegalStateException("refused");
        }
    }

    public synchronized int count() { return received.size(); }

    public synchronized CIMInstance get(int i) { return received.get(i); }

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
