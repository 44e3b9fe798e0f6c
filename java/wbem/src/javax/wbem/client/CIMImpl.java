package javax.wbem.client;

import java.util.Vector;
import javax.wbem.cim.CIMArgument;
import javax.wbem.cim.CIMClass;
import javax.wbem.cim.CIMInstance;
import javax.wbem.cim.CIMNameSpace;
import javax.wbem.cim.CIMObjectPath;
import javax.wbem.cim.CIMValue;

/**
 * The natives of the CIM bridge library (libcimbridge.so).  Operations return
 * an int status code (0 for success) and fill the objects passed in; the text
 * of the last failure of the calling thread is read with getLastError.
 */
public class CIMImpl {
    /** The implementation name reported by getImplName. */
    public static String IMPL_PEGASUS_TOVA = "PegasusTOVA";

    public static final int RC_OK = 0;
    public static final int RC_NO_CONNECTION = 0x10000001;
    public static final int RC_NO_CLASS_NAME = 0x10000004;
    public static final int RC_NO_COMPLETION_METHOD = 0x10000006;
    public static final int RC_FAILED = 0x30000004;

    /** Loads libcimbridge from java.library.path. */
    public static void loadLibrary() {
        System.loadLibrary("cimbridge");
    }

    // Errors, trace and identification.
    public native String getLastError();
    public native void toggleNativeTrace(boolean on);
    public native String getVersion();
    public static native String getImplName();

    // Connections: setup gives a handle (0 on failure); tearDown always gives 0.
    public native int setup(CIMNameSpace nameSpace);
    public native int tearDown(int handle);

    // Reading.
    public native int enumerateClassNames(int handle, Vector result, CIMObjectPath path, boolean deep);
    public native int enumerateInstanceNames(int handle, Vector result, CIMObjectPath path);
    public native int getInstance(int handle, CIMInstance instance, CIMObjectPath path);
    public native int getClass(int handle, CIMClass cimClass, CIMObjectPath path,
                               boolean localOnly, boolean includeQualifiers, boolean includeClassOrigin);

    // Changing.
    public native int createInstance(int handle, CIMObjectPath result, CIMObjectPath path, CIMInstance instance);
    public native int deleteInstance(int handle, CIMObjectPath path);

    // Properties.
    public native int getProperty(int handle, CIMValue value, CIMObjectPath path, String propertyName);
    public native int getProperties(int handle, Vector result, CIMObjectPath path, String[] propertyNames);
    public native int setProperty(int handle, CIMObjectPath path, String propertyName, CIMValue value);

    /**
     * Invokes a CIM method; the listener's
     * methodCallCompleted(int, CIMValue, CIMArgument[], String) receives the outcome.
     */
    public native int invokeMethod(int handle, CIMObjectPath path, String methodName,
                                   CIMArgument[] inArgs, Object listener);

    // Indication classes (accepted and ignored).
    public native int addLifecycleIndicationClass(int handle, String className);
    public native int addExtrinsicIndicationClass(int handle, String className);
    public native int removeIndicationClass(int handle, String className);
}
