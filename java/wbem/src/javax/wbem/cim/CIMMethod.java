package javax.wbem.cim;

import java.util.Vector;

/** A method of a CIM class: name, return type and input parameters. */
public class CIMMethod implements java.io.Serializable {
    private static final long serialVersionUID = 1L;

    private final String name;
    private CIMDataType type;
    private Vector parameters = new Vector<CIMParameter>();

    public CIMMethod(String name) {
        this.name = name;
    }

    public String getName() { return name; }
    public CIMDataType getType() { return type; }
    public void setType(CIMDataType type) { this.type = type; }
    public Vector getParameters() { return parameters; }

    public void setParameters(Vector parameters) {
        this.parameters = parameters == null ? new Vector<CIMParameter>() : parameters;
    }

    @Override
    public String toString() {
        return type + " " + name + parameters;
    }
}
