package javax.wbem.cim;

import java.util.Vector;

/** A CIM class definition: name, properties and methods. */
public class CIMClass implements java.io.Serializable {
    private static final long serialVersionUID = 1L;

    private String name = "";
    private final Vector<CIMProperty> properties = new Vector<>();
    private final Vector<CIMMethod> methods = new Vector<>();

    public CIMClass() {
    }

    public CIMClass(String name) {
        this.name = name;
    }

    public String getName() { return name; }
    public void setName(String name) { this.name = name; }
    public void addProperty(CIMProperty property) { properties.add(property); }
    public Vector getProperties() { return properties; }
    public void addMethod(CIMMethod method) { methods.add(method); }
    public Vector getMethods() { return methods; }

    public CIMProperty getProperty(String name) {
        for (CIMProperty p : properties) {
            if (p.getName().equalsIgnoreCase(name)) {
                return p;
            }
        }
        return null;
    }

    public CIMMethod getMethod(String name) {
        for (CIMMethod m : methods) {
            if (m.getName().equalsIgnoreCase(name)) {
                return m;
            }
        }
        return null;
    }

    @Override
    public String toString() {
        return "class " + name + " " + properties + " " + methods;
    }
}
