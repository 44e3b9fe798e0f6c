package javax.wbem.cim;

/** An unsigned 16-bit CIM integer (0 to 65535), held in an int. */
public class UnsignedInt16 extends Number implements Comparable<UnsignedInt16> {
    private static final long serialVersionUID = 1L;
    public static final int MIN_VALUE = 0;
    public static final int MAX_VALUE = 0xFFFF;

    private final int value;

    public UnsignedInt16(int value) {
        if (value < MIN_VALUE || value > MAX_VALUE) {
            throw new NumberFormatException("uint16 out of range: " + value);
        }
        this.value = value;
    }

    public UnsignedInt16(String text) {
        this(Integer.parseInt(text));
    }

    @Override public int intValue() { return value; }
    @Override public long longValue() { return value; }
    @Override public float floatValue() { return value; }
    @Override public double doubleValue() { return value; }
    @Override public int compareTo(UnsignedInt16 o) { return Integer.compare(value, o.value); }
    @Override public boolean equals(Object o) { return o instanceof UnsignedInt16 && ((UnsignedInt16) o).value == value; }
    @Override public int hashCode() { return value; }
    @Override public String toString() { return Integer.toString(value); }
}
