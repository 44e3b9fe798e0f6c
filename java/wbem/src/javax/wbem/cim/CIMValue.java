package javax.wbem.cim;

import java.util.Vector;

/** A typed CIM value: a Java object (a Vector for arrays) and its data type. */
public class CIMValue implements java.io.Serializable {
    private static final long serialVersionUID = 1L;

    private Object value;
    private CIMDataType type;

    public CIMValue(Object value) {
        this.value = value;
        this.type = value == null ? new CIMDataType(CIMDataType.NULL) : null;
    }

    public CIMValue(Object value, CIMDataType type) {
        this.value = value;
        this.type = type;
    }

    public CIMValue(Vector value, CIMDataType type) {
        this.value = value;
        this.type = type;
    }

    public Object getValue() {
        return value;
    }

    public void setValue(Object value) {
        this.value = value;
    }

    public void setArrayValues(Vector values) {
        this.value = values;
    }

    public CIMDataType getType() {
        return type;
    }

    public void setType(CIMDataType type) {
        this.type = type;
    }

    public boolean isArray() {
        return value instanceof Vector;
    }

    @Override
    public boolean equals(Object o) {
        if (!(o instanceof CIMValue)) {
            return false;
        }
        CIMValue other = (CIMValue) o;
        return java.util.Objects.equals(value, other.value)
            && java.util.Objects.equals(type, other.type);
    }

    @Override
    public int hashCode() {
        return java.util.Objects.hash(value, type);
    }

    @Override
    public String toString() {
        return String.valueOf(value);
    }
}
