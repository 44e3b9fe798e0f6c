package javax.wbem.cim;

/**
 * A CIM datetime in its DMTF text form: a timestamp yyyymmddhhmmss.mmmmmmsutc
 * or an interval ddddddddhhmmss.mmmmmm:000.  The text is kept as given.
 */
public class CIMDateTime implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    private static final int TEXT_LENGTH = 25;

    private final String text;

    public CIMDateTime(String text) {
        if (text == null || text.length() != TEXT_LENGTH) {
            throw new IllegalArgumentException("a CIM datetime has 25 characters: " + text);
        }
        char sign = text.charAt(21);
        if (text.charAt(14) != '.' || (sign != '+' && sign != '-' && sign != ':')) {
            throw new IllegalArgumentException("malformed CIM datetime: " + text);
        }
        this.text = text;
    }

    public boolean isInterval() {
        return text.charAt(21) == ':';
    }

    @Override public boolean equals(Object o) { return o instanceof CIMDateTime && ((CIMDateTime) o).text.equals(text); }
    @Override public int hashCode() { return text.hashCode(); }
    @Override public String toString() { return text; }
}
