// The natives of javax.wbem.client.CIMImpl over the OpenPegasus client API:
// status codes and the per-thread last error, the trace switch, connections
// and their handle registry, and Java object paths as model-path text.
//
// Everything but the JNI exports is private to this unit.  Lock order:
// g_pegasusLock first, then g_wbemSvcLock or g_lastErrorMapLock; neither
// inner lock is held while another lock is taken.
#include "IndirectJObj.h"
#include "debugmsg.h"

// The library is built with hidden visibility; OpenPegasus's own classes live
// in its shared libraries and must keep default visibility here.
#pragma GCC visibility push(default)
#include <Pegasus/Common/Config.h>
#include <Pegasus/Client/CIMClient.h>
#include <Pegasus/Common/CIMName.h>
#include <Pegasus/Common/CIMStatusCode.h>
#include <Pegasus/Common/Exception.h>
#include <Pegasus/Consumer/CIMIndicationConsumer.h>
#include <Pegasus/Listener/CIMListener.h>
#pragma GCC visibility pop

#include <jni.h>
#include <pthread.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

// ------------------------------------------------------------- status codes

constexpr jint kRcOk = 0;
[[maybe_unused]] constexpr jint kRcNoConnection = 0x10000001;
constexpr jint kRcGeneralFailure = 0x30000004;
// CIM status codes 2 to 17 map to 0x30000005 to 0x30000014.
constexpr unsigned kFirstMappedCimCode = 2;
constexpr unsigned kLastMappedCimCode = 17;
constexpr jint kRcFirstMappedCimCode = 0x30000005;

constexpr const char* kVersion = "2.4.6040";
constexpr const char* kImplNameField = "IMPL_PEGASUS_TOVA";

const char* const kReentryMessage =
    "a CIM operation was called again on a thread that is already inside one "
    "(from a Java callback); the operation was not run";

// ------------------------------------------------------------- last errors

std::mutex g_lastErrorMapLock;
std::map<unsigned long, char*> g_lastErrorMap;  // texts are strdup copies

void AssignLastError(const char* text)
{
    const unsigned long self = static_cast<unsigned long>(pthread_self());
    char* copy = strdup(text != nullptr ? text : "");
    std::lock_guard<std::mutex> guard(g_lastErrorMapLock);
    auto found = g_lastErrorMap.find(self);
    if (found != g_lastErrorMap.end()) {
        std::free(found->second);
        g_lastErrorMap.erase(found);
    }
    if (copy != nullptr) {
        g_lastErrorMap.emplace(self, copy);
    }
}

// The calling thread's last error, copied under the lock.
std::string LastErrorOfThisThread()
{
    const unsigned long self = static_cast<unsigned long>(pthread_self());
    std::lock_guard<std::mutex> guard(g_lastErrorMapLock);
    auto found = g_lastErrorMap.find(self);
    return found != g_lastErrorMap.end() ? std::string(found->second) : std::string();
}

[[maybe_unused]] jint ConvertToRC(const Pegasus::CIMException& e)
{
    const unsigned code = static_cast<unsigned>(e.getCode());
    debugmsg("XXX: ConvertToRC: code = %u, message = %s\n", code,
             static_cast<const char*>(e.getMessage().getCString()));
    if (code < kFirstMappedCimCode || code > kLastMappedCimCode) {
        return kRcGeneralFailure;
    }
    return kRcFirstMappedCimCode + static_cast<jint>(code - kFirstMappedCimCode);
}

// ------------------------------------------------------------- connections

// Holds an indication consumer's state.  No listener is created for a
// connection, so no indication ever arrives here; one that did is dropped.
class WbemIndicationConsumer : public Pegasus::CIMIndicationConsumer {
public:
    WbemIndicationConsumer(JavaVM* jvm, jobject target, int handle)
        : m_jvm(jvm), m_target(target), m_forwardIndicationID(nullptr), m_handle(handle)
    {
    }
    ~WbemIndicationConsumer() override
    {
        m_jvm = nullptr;
        m_target = nullptr;
    }
    void consumeIndication(const Pegasus::OperationContext&, const Pegasus::String&,
                           const Pegasus::CIMInstance&) override
    {
    }

    JavaVM* m_jvm;
    jobject m_target;
    jmethodID m_forwardIndicationID;
    int m_handle;
};

struct WbemServices {
    Pegasus::CIMClient* m_client;
    Pegasus::CIMNamespaceName* m_nameSpace;
    Pegasus::CIMListener* m_listener;
    WbemIndicationConsumer* m_consumer;
};

std::mutex g_pegasusLock;  // all OpenPegasus work of the process, one call at a time
std::mutex g_wbemSvcLock;  // g_SvcMap only
std::map<int, WbemServices*> g_SvcMap;

constexpr int kFirstHandle = 1;

// Whether this thread holds g_pegasusLock: a Java callback made under the lock
// that calls another CIM native on the same thread must fail, not deadlock.
thread_local bool t_holdsPegasusLock = false;

// Takes g_pegasusLock for one native call, unless this thread already holds it.
class PegasusLockGuard {
public:
    PegasusLockGuard()
    {
        if (t_holdsPegasusLock) {
            return;
        }
        g_pegasusLock.lock();
        t_holdsPegasusLock = true;
        m_locked = true;
    }
    ~PegasusLockGuard()
    {
        if (m_locked) {
            t_holdsPegasusLock = false;
            g_pegasusLock.unlock();
        }
    }
    PegasusLockGuard(const PegasusLockGuard&) = delete;
    PegasusLockGuard& operator=(const PegasusLockGuard&) = delete;

    // False when this thread was already inside a CIM native.
    bool locked() const { return m_locked; }

private:
    bool m_locked = false;
};

[[maybe_unused]] WbemServices* getServices(JNIEnv*, jobject, jint handle)
{
    std::lock_guard<std::mutex> guard(g_wbemSvcLock);
    auto found = g_SvcMap.find(handle);
    return found != g_SvcMap.end() ? found->second : nullptr;
}

// Registers a record under the smallest free handle and returns that handle.
int registerServices(WbemServices* services)
{
    std::lock_guard<std::mutex> guard(g_wbemSvcLock);
    int handle = kFirstHandle;
    while (g_SvcMap.count(handle) != 0) {
        ++handle;
    }
    g_SvcMap.emplace(handle, services);
    return handle;
}

// Removes and returns the record of a handle, or null.
WbemServices* unregisterServices(int handle)
{
    std::lock_guard<std::mutex> guard(g_wbemSvcLock);
    auto found = g_SvcMap.find(handle);
    if (found == g_SvcMap.end()) {
        return nullptr;
    }
    WbemServices* services = found->second;
    g_SvcMap.erase(found);
    return services;
}

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

// The namespace part of a name-space text: a leading "//host/" (either slash
// may be a backslash) or a single leading slash is removed.
std::string stripHost(const std::string& text)
{
    if (text.size() >= 2 && isSeparator(text[0]) && isSeparator(text[1]) && text[0] == text[1]) {
        std::string rest = text.substr(2);
        std::size_t sep = rest.find_first_of("/\\");
        if (sep != std::string::npos && sep + 1 < rest.size()) {
            return rest.substr(sep + 1);
        }
        return rest;
    }
    if (!text.empty() && isSeparator(text[0])) {
        return text.substr(1);
    }
    return text;
}

void destroyServices(WbemServices* services)
{
    debugmsg("Services not null\n");
    if (services->m_listener != nullptr) {
        try {
            services->m_listener->stop();
        } catch (...) {
            // a listener that fails to stop is destroyed all the same
        }
        delete services->m_listener;
    }
    delete services->m_consumer;
    delete services->m_nameSpace;
    delete services->m_client;  // closes the connection
    services->m_listener = nullptr;
    services->m_consumer = nullptr;
    services->m_nameSpace = nullptr;
    services->m_client = nullptr;
    delete services;
}

// ------------------------------------------------------------- object paths

// Reads the type number of a CIMDataType field; a field that cannot be read
// matches no type code.
bool isType(cim::CIMDataTypeClass& types, jint code, const char* field)
{
    jint number = types.GetStaticIntField(field, "I");
    return number != kNoTypeNumber && number == code;
}

// Key values the path parser reads between double quotes, with backslash and
// double quote escaped by a backslash.
bool isQuotedType(cim::CIMDataTypeClass& types, jint code)
{
    return isType(types, code, "STRING") || isType(types, code, "CHAR16") ||
           isType(types, code, "DATETIME") || isType(types, code, "REFERENCE");
}

void appendQuoted(std::string& out, const std::string& value)
{
    out.push_back('"');
    for (char c : value) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
}

// The model-path text of a Java CIMObjectPath: class name, then ".name=value"
// key bindings separated by commas; empty for a null path.
[[maybe_unused]] std::string ObjectPathAsString(JNIEnv* env, jobject path)
{
    std::string text;
    if (path == nullptr) {
        return text;
    }
    cim::CIMDataTypeClass types = cim::CIMDataTypeClass::construct(env);
    cim::CIMObjectPath javaPath(env, path);

    text = java::String(env, javaPath.CallObjectMethod("getObjectName", "()Ljava/lang/String;")).getStringA();

    java::Vector keys(env, javaPath.CallObjectMethod("getKeys", "()Ljava/util/Vector;"));
    const jint count = keys.CallIntMethod("size", "()I");
    bool first = true;
    for (jint i = 0; i < count; ++i) {
        cim::CIMProperty key(env, keys.CallObjectMethod("get", "(I)Ljava/lang/Object;", i));
        std::string name = java::String(env, key.CallObjectMethod("getName", "()Ljava/lang/String;")).getStringA();
        if (name.empty()) {
            continue;
        }
        if (name[0] == ',') {
            name.erase(0, 1);
        }
        text += first ? "." : ",";
        first = false;
        text += name;
        text += "=";

        cim::CIMDataType type(env, key.CallObjectMethod("getType", "()Ljavax/wbem/cim/CIMDataType;"));
        const jint code = type.CallIntMethod("getType", "()I");
        cim::CIMValue value(env, key.CallObjectMethod("getValue", "()Ljavax/wbem/cim/CIMValue;"));
        // A null value, or a value without a value object, gives the empty text.
        const std::string valueText = value.getValueAsString().getStringA();
        if (isQuotedType(types, code)) {
            appendQuoted(text, valueText);
        } else {
            text += valueText;
        }
    }
    return text;
}

// ------------------------------------------------------------- setup

std::string exceptionText(const Pegasus::Exception& e)
{
    return std::string(static_cast<const char*>(e.getMessage().getCString()));
}

jint setupConnection(JNIEnv* env, jobject nameSpaceObject)
{
    std::unique_ptr<Pegasus::CIMNamespaceName> nameSpace;
    std::unique_ptr<Pegasus::CIMClient> client;
    try {
        cim::CIMNameSpace javaNameSpace(env, nameSpaceObject);
        java::String javaText(env, javaNameSpace.CallObjectMethod("getNameSpace", "()Ljava/lang/String;"));
        if (javaText.m_object == nullptr) {
            AssignLastError("setup: the name space object has no namespace name (getNameSpace gave null)");
            debugmsg("ERROR: setup has no namespace name\n");
            return 0;
        }
        const std::string text = stripHost(javaText.getStringA());

        nameSpace.reset(new Pegasus::CIMNamespaceName(Pegasus::String(text.c_str())));
        client.reset(new Pegasus::CIMClient());
        client->connectLocal();

        std::unique_ptr<WbemServices> services(new WbemServices{client.get(), nameSpace.get(), nullptr, nullptr});
        const int handle = registerServices(services.get());
        services.release();
        client.release();
        nameSpace.release();
        debugmsg("XXX: Namespace %s identified by handle %d\n", text.c_str(), handle);
        return handle;
    } catch (const Pegasus::InvalidNameException& e) {
        const std::string message = exceptionText(e);
        debugmsg("ERROR: setup has a invalid name\nERROR: %s\n", message.c_str());
        AssignLastError(message.c_str());
    } catch (const Pegasus::MalformedObjectNameException& e) {
        const std::string message = exceptionText(e);
        debugmsg("ERROR: setup has a malformed object name\nERROR: %s\n", message.c_str());
        AssignLastError(message.c_str());
    } catch (const Pegasus::CIMException& e) {
        const std::string message = exceptionText(e);
        debugmsg("ERROR: setup had a CIMException. Code = %lu, Message = %s\n",
                 static_cast<unsigned long>(e.getCode()), message.c_str());
        AssignLastError(message.c_str());
    } catch (const Pegasus::Exception& e) {
        const std::string message = exceptionText(e);
        debugmsg("ERROR: setup had a Exception. Message = %s\n", message.c_str());
        AssignLastError(message.c_str());
    } catch (const std::exception& e) {
        // Not an OpenPegasus failure, but the caller still learns why.
        AssignLastError((std::string("setup failed: ") + e.what()).c_str());
    } catch (...) {
        AssignLastError("setup failed: unknown error");
    }
    return 0;  // the client and namespace name made so far are destroyed here
}

}  // namespace

// ================================================================= natives

extern "C" {

JNIEXPORT jstring JNICALL Java_javax_wbem_client_CIMImpl_getLastError(JNIEnv* env, jobject)
{
    try {
        const std::string text = LastErrorOfThisThread();
        jstring result = env->NewStringUTF(text.c_str());
        (void)env->ExceptionCheck();
        return result;
    } catch (...) {
        return nullptr;
    }
}

JNIEXPORT void JNICALL Java_javax_wbem_client_CIMImpl_toggleNativeTrace(JNIEnv*, jobject, jboolean on)
{
    debugmsg("toggleNativeTrace called\n");
    if (on) {
        setTraceMode(1);
        debugmsg("CIM Native Tracing Enabled\n");
    } else {
        debugmsg("CIM Native Tracing Disabled\n");
        setTraceMode(0);
    }
}

JNIEXPORT jstring JNICALL Java_javax_wbem_client_CIMImpl_getVersion(JNIEnv* env, jobject)
{
    try {
        return static_cast<jstring>(java::String::construct(env, kVersion).m_object);
    } catch (...) {
        return nullptr;
    }
}

JNIEXPORT jstring JNICALL Java_javax_wbem_client_CIMImpl_getImplName(JNIEnv* env, jclass cls)
{
    if (cls == nullptr) {
        return nullptr;
    }
    jfieldID field = env->GetStaticFieldID(cls, kImplNameField, "Ljava/lang/String;");
    (void)env->ExceptionCheck();
    if (field == nullptr) {
        return nullptr;  // NoSuchFieldError stays pending
    }
    return static_cast<jstring>(env->GetStaticObjectField(cls, field));
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_setup(JNIEnv* env, jobject, jobject nameSpace)
{
    try {
        debugmsg("XXX Setup called\n");
        PegasusLockGuard lock;
        if (!lock.locked()) {
            AssignLastError(kReentryMessage);
            return 0;
        }
        return setupConnection(env, nameSpace);
    } catch (...) {
        return 0;
    }
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_tearDown(JNIEnv*, jobject, jint handle)
{
    try {
        PegasusLockGuard lock;
        if (!lock.locked()) {
            AssignLastError(kReentryMessage);
            return kRcGeneralFailure;
        }
        debugmsg("tearDown called\n");
        WbemServices* services = unregisterServices(handle);
        if (services != nullptr) {
            destroyServices(services);
        }
        debugmsg("Teardown complete\n");
        return kRcOk;
    } catch (...) {
        return kRcOk;
    }
}

}  // extern "C"
