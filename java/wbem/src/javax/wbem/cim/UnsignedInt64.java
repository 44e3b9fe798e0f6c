package javax.wbem.cim;

import java.math.BigInteger;

/**
 * An unsigned 64-bit CIM integer.  The byte-array constructor takes the value
 * most significant byte first; longValue gives the same 64 bits.
 */
public class UnsignedInt64 extends Number implements Comparable<UnsignedInt64> {
    private static final long serialVersionUID = 1L;
    private static final int BYTES = 8;
    public static final BigInteger MAX_VALUE = BigInteger.ONE.shiftLeft(64).subtract(BigInteger.ONE);

    private final long bits;

    public UnsignedInt64(byte[] bigEndian) {
        if (bigEndian == null || bigEndian.length > BYTES) {
            throw new NumberFormatException("uint64 needs at most 8 bytes");
        }
        long v = 0;
        for (byte b : bigEndian) {
            v = (v << 8) | (b & 0xFF);
        }
        this.bits = v;
    }

    public UnsignedInt64(BigInteger value) {
        if (value.signum() < 0 || value.compareTo(MAX_VALUE) > 0) {
            throw new NumberFormatException("uint64 out of range: " + value);
        }
        this.bits = value.longValue();
    }

    public UnsignedInt64(String text) {
        this(new BigInteger(text));
    }

    public BigInteger bigIntValue() {
        return new BigInteger(Long.toUnsignedString(bits));
    }

    @Override public int intValue() { return (int) bits; }
    @Override public long longValue() { return bits; }
    @Override public float floatValue() { return bigIntValue().floatValue(); }
    @Override public double doubleValue() { return bigIntValue().doubleValue(); }
    @Override public int compareTo(UnsignedInt64 o) { return Long.compareUnsigned(bits, o.bits); }
    @Override public boolean equals(Object o) { return o instanceof UnsignedInt64 && ((UnsignedInt64) o).bits == bits; }
    @Override public int hashCode() { return Long.hashCode(bits); }
    @Override public String toString() { return Long.toUnsignedString(bits); }
}
