package javax.wbem.cim;

/** An unsigned 8-bit CIM integer (0 to 255), held in a short. */
public class UnsignedInt8 extends Number implements Comparable<UnsignedInt8> {
    private static final long serialVersionUID = 1L;
    public static final short MIN_VALUE = 0;
    public static final short MAX_VALUE = 0xFF;

    private final short value;

    public UnsignedInt8(short value) {
        if (value < MIN_VALUE || value > MAX_VALUE) {
            throw new NumberFormatException("uint8 out of range: " + value);
        }
        this.value = value;
    }

    public UnsignedInt8(String text) {
        this(Short.parseShort(text));
    }

    @Override public int intValue() { return value; }
    @Override public long longValue() { return value; }
    @Override public float floatValue() { return value; }
    @Override public double doubleValue() { return value; }
    @Override public short shortValue() { return value; }
    @Override public int compareTo(UnsignedInt8 o) { return Short.compare(value, o.value); }
    @Override public boolean equals(Object o) { return o instanceof UnsignedInt8 && ((UnsignedInt8) o).value == value; }
    @Override public int hashCode() { return value; }
    @Override public String toString() { return Short.toString(value); }
}
