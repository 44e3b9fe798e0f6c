package javax.wbem.cim;

/** A host and a namespace name such as root/cimv2. */
public class CIMNameSpace implements java.io.Serializable {
    private static final long serialVersionUID = 1L;
    public static final String DEFAULT_NAMESPACE = "root/cimv2";

    private String host;
    private String nameSpace;

    public CIMNameSpace() {
        this("", DEFAULT_NAMESPACE);
    }

    public CIMNameSpace(String host) {
        this(host, DEFAULT_NAMESPACE);
    }

    public CIMNameSpace(String host, String nameSpace) {
        this.host = host;
        this.nameSpace = nameSpace;
    }

    public String getHost() { return host; }
    public void setHost(String host) { this.host = host; }
    public String getNameSpace() { return nameSpace; }
    public void setNameSpace(String nameSpace) { this.nameSpace = nameSpace; }

    @Override
    public String toString() {
        return (host == null || host.isEmpty() ? "" : "//" + host + "/") + nameSpace;
    }
}
