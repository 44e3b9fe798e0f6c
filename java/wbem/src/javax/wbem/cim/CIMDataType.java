package javax.wbem.cim;

/**
 * A CIM data type, identified by its type number.  The numbers are read by
 * name from these static fields by the native bridge; 0 is deliberately not
 * a type, so an unknown type number never matches one.
 */
public class CIMDataType implements java.io.Serializable {
    private static final long serialVersionUID = 1L;

    public static final int UINT8 = 1;
    public static final int SINT8 = 2;
    public static final int UINT16 = 3;
    public static final int SINT16 = 4;
    public static final int UINT32 = 5;
    public static final int SINT32 = 6;
    public static final int UINT64 = 7;
    public static final int SINT64 = 8;
    public static final int STRING = 9;
    public static final int BOOLEAN = 10;
    public static final int REAL32 = 11;
    public static final int REAL64 = 12;
    public static final int DATETIME = 13;
    public static final int CHAR16 = 14;
    public static final int REFERENCE = 15;

    /** Distance between a scalar type number and its array type number. */
    private static final int ARRAY_OFFSET = 16;

    public static final int UINT8_ARRAY = UINT8 + ARRAY_OFFSET;
    public static final int SINT8_ARRAY = SINT8 + ARRAY_OFFSET;
    public static final int UINT16_ARRAY = UINT16 + ARRAY_OFFSET;
    public static final int SINT16_ARRAY = SINT16 + ARRAY_OFFSET;
    public static final int UINT32_ARRAY = UINT32 + ARRAY_OFFSET;
    public static final int SINT32_ARRAY = SINT32 + ARRAY_OFFSET;
    public static final int UINT64_ARRAY = UINT64 + ARRAY_OFFSET;
    public static final int SINT64_ARRAY = SINT64 + ARRAY_OFFSET;
    public static final int STRING_ARRAY = STRING + ARRAY_OFFSET;
    public static final int BOOLEAN_ARRAY = BOOLEAN + ARRAY_OFFSET;
    public static final int REAL32_ARRAY = REAL32 + ARRAY_OFFSET;
    public static final int REAL64_ARRAY = REAL64 + ARRAY_OFFSET;
    public static final int DATETIME_ARRAY = DATETIME + ARRAY_OFFSET;
    public static final int CHAR16_ARRAY = CHAR16 + ARRAY_OFFSET;
    public static final int REFERENCE_ARRAY = REFERENCE + ARRAY_OFFSET;

    /** The type of a value that holds nothing. */
    public static final int NULL = 40;

    private static final String[] NAMES = {
        null, "uint8", "sint8", "uint16", "sint16", "uint32", "sint32", "uint64",
        "sint64", "string", "boolean", "real32", "real64", "datetime", "char16",
        "reference"
    };

    private final int type;

    public CIMDataType(int type) {
        this.type = type;
    }

    public int getType() {
        return type;
    }

    public boolean isArray() {
        return type > ARRAY_OFFSET && type <= REFERENCE_ARRAY;
    }

    /** The scalar type number of an array type, or the type itself. */
    public int getElementType() {
        return isArray() ? type - ARRAY_OFFSET : type;
    }

    @Override
    public boolean equals(Object o) {
        return o instanceof CIMDataType && ((CIMDataType) o).type == type;
    }

    @Override
    public int hashCode() {
        return type;
    }

    @Override
    public String toString() {
        if (type == NULL) {
            return "null";
        }
        int element = getElementType();
        if (element > 0 && element < NAMES.length) {
            return isArray() ? NAMES[element] + "[]" : NAMES[element];
        }
        return "unknown(" + type + ")";
    }
}
