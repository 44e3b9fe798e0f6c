package javax.wbem.cim;

/** A named, typed property of a CIM instance or class. */
public class CIMProperty implements java.io.Serializable {
    private static final long serialVersionUID = 1L;

    private String name;
    private CIMDataType type;
    private CIMValue value;
    private boolean key;
    private String originClass = "";
    private boolean readable = true;
    private boolean writeable = false;

    public CIMProperty() {
        this("");
    }

    public CIMProperty(String name) {
        this.name = name;
    }

    public CIMProperty(String name, CIMValue value) {
        this.name = name;
        this.value = value;
        this.type = value == null ? null : value.getType();
    }

    public String getName() { return name; }
    public void setName(String name) { this.name = name; }
    public CIMDataType getType() { return type; }
    public void setType(CIMDataType type) { this.type = type; }
    public CIMValue getValue() { return value; }
    public void setValue(CIMValue value) { this.value = value; }
    public boolean isKey() { return key; }
    public void setKey(boolean key) { this.key = key; }
    public String getOriginClass() { return originClass; }
    public void setOriginClass(String originClass) { this.originClass = originClass; }
    public boolean isReadable() { return readable; }
    public void setReadable(boolean readable) { this.readable = readable; }
    public boolean isWriteable() { return writeable; }
    public void setWriteable(boolean writeable) { this.writeable = writeable; }

    @Override
    public String toString() {
        return (key ? "[Key] " : "") + type + " " + name + " = " + value;
    }
}
