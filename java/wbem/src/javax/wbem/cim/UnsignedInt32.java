package javax.wbem.cim;

/** An unsigned 32-bit CIM integer (0 to 4294967295), held in a long. */
public class UnsignedInt32 extends Number implements Comparable<UnsignedInt32> {
    private static final long serialVersionUID = 1L;
    public static final long MIN_VALUE = 0L;
    public static final long MAX_VALUE = 0xFFFFFFFFL;

    private final long value;

    public UnsignedInt32(long value) {
        if (value < MIN_VALUE || value > MAX_VALUE) {
            throw new NumberFormatException("uint32 out of range: " + value);
        }
        this.value = value;
    }

    public UnsignedInt32(String text) {
        this(Long.parseLong(text));
    }

    @Override public int intValue() { return (int) value; }
    @Override public long longValue() { return value; }
    @Override public float floatValue() { return value; }
    @Override public double doubleValue() { return value; }
    @Override public int compareTo(UnsignedInt32 o) { return Long.compare(value, o.value); }
    @Override public boolean equals(Object o) { return o instanceof UnsignedInt32 && ((UnsignedInt32) o).value == value; }
    @Override public int hashCode() { return Long.hashCode(value); }
    @Override public String toString() { return Long.toString(value); }
}
