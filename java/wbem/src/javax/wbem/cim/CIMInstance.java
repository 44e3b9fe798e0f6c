package javax.wbem.cim;

import java.util.Vector;

/** A CIM instance: its class name, object path and properties. */
public class CIMInstance implements java.io.Serializable {
    private static final long serialVersionUID = 1L;

    private String className = "";
    private CIMObjectPath objectPath;
    private Vector<CIMProperty> properties = new Vector<>();

    public CIMInstance() {
    }

    public String getClassName() { return className; }
    public void setClassName(String className) { this.className = className; }
    public CIMObjectPath getObjectPath() { return objectPath; }
    public void setObjectPath(CIMObjectPath objectPath) { this.objectPath = objectPath; }
    public Vector getProperties() { return properties; }

    @SuppressWarnings("unchecked")
    public void setProperties(Vector properties) {
        this.properties = properties == null ? new Vector<>() : properties;
    }

    /** The property of that name (compared without regard to case), or null. */
    public CIMProperty getProperty(String name) {
        for (Object o : properties) {
            CIMProperty p = (CIMProperty) o;
            if (p.getName().equalsIgnoreCase(name)) {
                return p;
            }
        }
        return null;
    }

    /** Adds a property, or replaces the one of the same name. */
    public void setProperty(String name, CIMValue value) {
        CIMProperty p = getProperty(name);
        if (p == null) {
            properties.add(new CIMProperty(name, value));
        } else {
            p.setValue(value);
            p.setType(value == null ? null : value.getType());
        }
    }

    @Override
    public String toString() {
        return "instance of " + className + " " + properties;
    }
}
