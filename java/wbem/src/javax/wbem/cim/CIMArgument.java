package javax.wbem.cim;

/** A named argument value of a CIM method call. */
public class CIMArgument implements java.io.Serializable {
    private static final long serialVersionUID = 1L;

    private String name = "";
    private CIMValue value;

    public CIMArgument() {
    }

    public CIMArgument(String name, CIMValue value) {
        this.name = name;
        this.value = value;
    }

    public String getName() { return name; }
    public void setName(String name) { this.name = name; }
    public CIMValue getValue() { return value; }
    public void setValue(CIMValue value) { this.value = value; }

    @Override
    public String toString() {
        return name + "=" + value;
    }
}
