package javax.wbem.cim;

/** A parameter of a CIM method. */
public class CIMParameter implements java.io.Serializable {
    private static final long serialVersionUID = 1L;

    private final String name;
    private CIMDataType type;

    public CIMParameter(String name) {
        this.name = name;
    }

    public String getName() { return name; }
    public CIMDataType getType() { return type; }
    public void setType(CIMDataType type) { this.type = type; }

    @Override
    public String toString() {
        return type + " " + name;
    }
}
