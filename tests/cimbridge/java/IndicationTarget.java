import java.util.ArrayList;
import java.util.List;
import java.util.Vector;

import javax.wbem.cim.CIMInstance;
import javax.wbem.cim.CIMProperty;

// What a connection's listener forwards to: keeps every indication, read back
// by the native test as "ClassName Prop1,Prop2,..." (properties in order).
public class IndicationTarget {
    private final List<String> received = new ArrayList<>();

    public synchronized void forwardIndication(boolean ok, CIMInstance indication) {
        StringBuilder b = new StringBuilder(indication.getClassName()).append(' ');
        Vector properties = indication.getProperties();
        for (int i = 0; properties != null && i < properties.size(); i++) {
            if (i > 0) b.append(',');
            b.append(((CIMProperty) properties.get(i)).getName());
        }
        received.add(b.toString());
        notifyAll();
    }

    public synchronized int count() { return received.size(); }

    public synchronized String get(int i) { return received.get(i); }
}
