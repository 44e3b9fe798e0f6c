// The natives of javax.wbem.client.CIMImpl over the OpenPegasus client API:
// status codes and the per-thread last error, the trace switch, connections
// and their handle registry, and Java object paths as model-path text.
//
// Everything but the JNI exports is private to this unit.  Lock order:
// g_pegasusLock first, then g_wbemSvcLock or g_lastErrorMapLock; neither
// inner lock is held while another lock is taken.
#include "IndirectJObj.h"
#include "PathText.h"
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
#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using Pegasus::Uint32;  // PEG_NOT_FOUND names it unqualified

// ------------------------------------------------------------- status codes

constexpr jint kRcOk = 0;
constexpr jint kRcNoConnection = 0x10000001;
constexpr jint kRcNoClassName = 0x10000004;
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

// The state that listener threads use lives on the heap and is never
// destroyed: a process that exits with a listener inside the bridge must not
// find it gone under that thread in the static destructors.
std::mutex g_lastErrorMapLock;
std::map<unsigned long, char*>& g_lastErrorMap = *new std::map<unsigned long, char*>();  // strdup copies

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

jint ConvertToRC(const Pegasus::CIMException& e)
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

// Hands the indications a connection's listener receives to a Java object's
// forwardIndication, as Java CIMInstance objects.  Only indications sent to
// its destination path are taken: the path holds a secret that only the CIM
// server is told (in the subscription's destination), since anyone on the
// machine can reach the listener's port.
//
// No member is marked `override`: acceptsDestination overrides a virtual in
// some client libraries only (see below), and a compiler that sees the other
// overrides marked asks for it to be marked too.  consumeIndication is pure in
// the base, so a wrong signature still fails to build.
class WbemIndicationConsumer : public Pegasus::CIMIndicationConsumer {
public:
    WbemIndicationConsumer(JavaVM* jvm, jobject target, int handle, std::string destinationPath)
        : m_jvm(jvm),
          m_target(target),
          m_forwardIndicationID(nullptr),
          m_handle(handle),
          m_destinationPath(std::move(destinationPath)),
          m_droppedInBurst(0)
    {}
    ~WbemIndicationConsumer()
    {
        m_jvm = nullptr;
        m_target = nullptr;
    }
    void consumeIndication(const Pegasus::OperationContext& context, const Pegasus::String& destinationPath,
                           const Pegasus::CIMInstance& indicationInstance);

    // Whether a request's path ends in this consumer's destination path; the
    // secret is compared in constant time.  The listener API has no way to
    // tell a listener what to accept, so our client library's consumer class
    // has this one more virtual (accepting every path unless overridden) and
    // its listener asks it before reading a request: forged requests are
    // refused unread.  With a library that has no such virtual this is only
    // what consumeIndication calls.
    Pegasus::Boolean acceptsDestination(const Pegasus::String& destinationPath) const;

    JavaVM* m_jvm;
    jobject m_target;  // a global reference, owned by the connection record
    jmethodID m_forwardIndicationID;
    int m_handle;
    std::string m_destinationPath;  // "/" and the secret; never traced
    unsigned m_droppedInBurst;      // sent to other paths since the last genuine one
};

struct WbemServices {
    Pegasus::CIMClient* m_client;
    Pegasus::CIMNamespaceName* m_nameSpace;
    Pegasus::CIMListener* m_listener;
    WbemIndicationConsumer* m_consumer;
};

std::mutex g_pegasusLock;  // all OpenPegasus work of the process, one call at a time
std::mutex g_wbemSvcLock;  // g_SvcMap and g_closingHandles only
std::map<int, WbemServices*>& g_SvcMap = *new std::map<int, WbemServices*>();
// Handles being torn down: still taken (a new setup cannot get one until its
// old listener has stopped), but no operation or indication finds them.
std::set<int>& g_closingHandles = *new std::set<int>();

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

WbemServices* getServices(JNIEnv*, jobject, jint handle)
{
    std::lock_guard<std::mutex> guard(g_wbemSvcLock);
    auto found = g_SvcMap.find(handle);
    if (found == g_SvcMap.end() || g_closingHandles.count(handle) != 0) {
        return nullptr;
    }
    return found->second;
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

// Marks a handle as being torn down and returns its record; null when it has
// none or another tear-down has it already.
WbemServices* beginClosing(int handle)
{
    std::lock_guard<std::mutex> guard(g_wbemSvcLock);
    auto found = g_SvcMap.find(handle);
    if (found == g_SvcMap.end() || !g_closingHandles.insert(handle).second) {
        return nullptr;
    }
    return found->second;
}

// Frees a handle whose tear-down is complete.
void finishClosing(int handle)
{
    std::lock_guard<std::mutex> guard(g_wbemSvcLock);
    g_SvcMap.erase(handle);
    g_closingHandles.erase(handle);
}

// The handles of every connection, for tearing them all down.
std::set<int> registeredHandles()
{
    std::lock_guard<std::mutex> guard(g_wbemSvcLock);
    std::set<int> handles;
    for (const auto& entry : g_SvcMap) {
        handles.insert(entry.first);
    }
    return handles;
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

// Deletes the global reference to a consumer's Java target.
void releaseTarget(WbemIndicationConsumer& consumer)
{
    JNIEnv* env = nullptr;
    if (consumer.m_target != nullptr && consumer.m_jvm != nullptr &&
        consumer.m_jvm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) == JNI_OK) {
        env->DeleteGlobalRef(consumer.m_target);
    }
    consumer.m_target = nullptr;
}

// Stops a connection's listener.  Called without g_pegasusLock: stopping
// joins the listener's threads, and one of them may be waiting for that lock
// (it then finds the handle closing and drops its indication).
void stopListener(WbemServices& services)
{
    if (services.m_listener != nullptr) {
        try {
            services.m_listener->stop();
        } catch (...) {
            // a listener that fails to stop is destroyed all the same
        }
    }
}

// Frees what a connection record owns once its listener has stopped.  The
// client goes under g_pegasusLock (the client library is not reentrant); the
// listener and the consumer after it, since nothing calls them any more.
void destroyServices(WbemServices* services)
{
    {
        PegasusLockGuard lock;
        delete services->m_nameSpace;
        delete services->m_client;  // closes the connection
        services->m_nameSpace = nullptr;
        services->m_client = nullptr;
    }
    delete services->m_listener;
    if (services->m_consumer != nullptr) {
        releaseTarget(*services->m_consumer);
    }
    delete services->m_consumer;
    services->m_listener = nullptr;
    services->m_consumer = nullptr;
    delete services;
}

// Tears one connection down; false when the handle has none (or another
// tear-down has it).  The caller holds no lock.
bool tearDownConnection(int handle)
{
    WbemServices* services = nullptr;
    {
        PegasusLockGuard lock;
        services = beginClosing(handle);
    }
    if (services == nullptr) {
        return false;
    }
    debugmsg("Services not null\n");
    stopListener(*services);
    destroyServices(services);
    finishClosing(handle);  // only now may a new connection take the handle
    return true;
}

// ------------------------------------------------------------- Java exceptions

// A Java call left an exception pending: the operation stops at once (no JNI
// call may be made with it pending, and nothing half-built is sent) and the
// exception stays pending for the Java caller.
struct JavaExceptionPending {};

void throwIfJavaExceptionPending(JNIEnv* env)
{
    if (env->ExceptionCheck()) {
        throw JavaExceptionPending();
    }
}

// A Java value the bridge cannot send as it is (no type to be had, an object
// of the wrong class): the operation fails with the general status and the
// reason, completed by the caller with what the value was for, as the last
// error; nothing is sent.
struct UnsendableValue {
    std::string reason;
};

[[noreturn]] void unsendable(std::string reason)
{
    throw UnsendableValue{std::move(reason)};
}

// Local references a native may hold at once outside the frames below, and
// those one element of a result needs (a property with its type, value
// object and value, a path with its text).
constexpr jint kOperationFrameCapacity = 64;
constexpr jint kElementFrameCapacity = 32;
// Instance names that share one such frame: two references each (the text
// and the path), and a frame pushed and popped per batch, not per name.
constexpr Pegasus::Uint32 kNamesPerFrame = 8;
// Properties that share one such frame: at most seven references each (the
// name, the property, its type, the value object with its text or the class
// of its vector, and the value).
constexpr std::size_t kPropertiesPerFrame = 4;

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

enum class KeyForm { Quoted, Bare, Unknown };

KeyForm keyFormOfType(cim::CIMDataTypeClass& types, cim::CIMDataType& type)
{
    if (type.m_object == nullptr) {
        return KeyForm::Unknown;
    }
    const jint code = type.CallIntMethod("getType", "()I");
    if (isQuotedType(types, code)) {
        return KeyForm::Quoted;
    }
    return isType(types, code, "NULL") ? KeyForm::Unknown : KeyForm::Bare;
}

// A key made from a value without a type (new CIMValue("abc") has none) is
// written by the class of its value object.
KeyForm keyFormOfValue(JNIEnv* env, cim::CIMDataTypeClass& types, cim::CIMValue& value)
{
    cim::CIMDataType type(env, value.CallObjectMethod("getType", "()Ljavax/wbem/cim/CIMDataType;"));
    throwIfJavaExceptionPending(env);
    const KeyForm form = keyFormOfType(types, type);
    if (form != KeyForm::Unknown) {
        return form;
    }
    jobject object = value.CallObjectMethod("getValue", "()Ljava/lang/Object;");
    throwIfJavaExceptionPending(env);
    if (object == nullptr) {
        return KeyForm::Unknown;
    }
    const bool bare =
        isInstanceOf(env, object, KnownClass::Number) || isInstanceOf(env, object, KnownClass::Boolean);
    throwIfJavaExceptionPending(env);
    return bare ? KeyForm::Bare : KeyForm::Quoted;
}

// How deep references may nest inside reference keys: a path that holds
// itself would otherwise never end.
constexpr int kMaxReferenceDepth = 16;

std::string referenceText(JNIEnv* env, jobject path, int depth);

// The model-path text of a Java CIMObjectPath: class name, then ".name=value"
// key bindings separated by commas; empty for a null path.  Stops where a Java
// call leaves an exception pending (JavaExceptionPending).  `depth` counts the
// reference keys this path is inside.
std::string ObjectPathAsString(JNIEnv* env, jobject path, int depth = 0)
{
    std::string text;
    if (path == nullptr) {
        return text;
    }
    cim::CIMDataTypeClass types = cim::CIMDataTypeClass::construct(env);
    cim::CIMObjectPath javaPath(env, path, KnownClass::CIMObjectPath);

    text = java::String(env, javaPath.CallObjectMethod("getObjectName", "()Ljava/lang/String;")).getStringA();
    throwIfJavaExceptionPending(env);

    java::Vector keys(env, javaPath.CallObjectMethod("getKeys", "()Ljava/util/Vector;"), KnownClass::Vector);
    const jint count = keys.CallIntMethod("size", "()I");
    throwIfJavaExceptionPending(env);
    bool first = true;
    for (jint i = 0; i < count; ++i) {
        LocalFrame frame(env, kElementFrameCapacity);
        cim::CIMProperty key(env, keys.CallObjectMethod("get", "(I)Ljava/lang/Object;", i),
                             KnownClass::CIMProperty);
        std::string name =
            java::String(env, key.CallObjectMethod("getName", "()Ljava/lang/String;")).getStringA();
        throwIfJavaExceptionPending(env);
        if (name.empty()) {
            continue;
        }

        cim::CIMDataType type(env, key.CallObjectMethod("getType", "()Ljavax/wbem/cim/CIMDataType;"),
                              KnownClass::CIMDataType);
        throwIfJavaExceptionPending(env);
        KeyForm form = keyFormOfType(types, type);
        cim::CIMValue value(env, key.CallObjectMethod("getValue", "()Ljavax/wbem/cim/CIMValue;"),
                            KnownClass::CIMValue);
        throwIfJavaExceptionPending(env);
        if (form == KeyForm::Unknown && value.m_object != nullptr) {
            form = keyFormOfValue(env, types, value);
        }
        // A null value, or a value without a value object, gives the empty text;
        // a path is written here too, so that its own keys keep their types.
        jobject object =
            value.m_object != nullptr ? value.CallObjectMethod("getValue", "()Ljava/lang/Object;") : nullptr;
        throwIfJavaExceptionPending(env);
        const bool isPath = isInstanceOf(env, object, KnownClass::CIMObjectPath);
        throwIfJavaExceptionPending(env);
        const std::string valueText =
            isPath ? referenceText(env, object, depth + 1) : value.getValueAsString().getStringA();
        throwIfJavaExceptionPending(env);
        pathtext::appendKeyBinding(text, first, name, valueText, form == KeyForm::Bare);
    }
    return text;
}

// A reference as path text: host and namespace when the Java path has them,
// then the class and keys as the bridge writes them (Java's toString would
// quote a key without a type, and a number would come back as a string).
std::string referenceText(JNIEnv* env, jobject path, int depth)
{
    if (depth > kMaxReferenceDepth) {
        unsendable("a reference nests more than " + std::to_string(kMaxReferenceDepth) +
                   " paths deep inside reference keys");
    }
    cim::CIMObjectPath javaPath(env, path);
    const std::string host =
        java::String(env, javaPath.CallObjectMethod("getHost", "()Ljava/lang/String;")).getStringA();
    const std::string nameSpace =
        java::String(env, javaPath.CallObjectMethod("getNameSpace", "()Ljava/lang/String;")).getStringA();
    throwIfJavaExceptionPending(env);
    std::string text;
    if (!host.empty()) {
        text += "//" + host + "/";
    }
    if (!nameSpace.empty()) {
        text += nameSpace + ":";
    }
    return text + ObjectPathAsString(env, path, depth);
}

// The Pegasus path of a Java path (namespace and host are never part of it).
Pegasus::CIMObjectPath pegasusPath(JNIEnv* env, jobject path, std::string& text)
{
    text = ObjectPathAsString(env, path);
    return Pegasus::CIMObjectPath(Pegasus::String(text.c_str()));
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

        std::unique_ptr<WbemServices> services(
            new WbemServices{client.get(), nameSpace.get(), nullptr, nullptr});
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

// ------------------------------------------------------------- the operation frame

// Runs one CIM operation of a connection: g_pegasusLock for the whole call,
// the connection looked up by its handle, a CIMException's message kept as the
// thread's last error and its code mapped, any other failure the general one.
template <class Operation>
jint runOperation(JNIEnv* env, jobject receiver, jint handle, Operation&& operation)
{
    try {
        PegasusLockGuard lock;
        if (!lock.locked()) {
            AssignLastError(kReentryMessage);
            return kRcGeneralFailure;
        }
        WbemServices* services = getServices(env, receiver, handle);
        if (services == nullptr) {
            return kRcNoConnection;
        }
        // Whatever the operation makes lives in this frame, popped on every way out.
        LocalFrame frame(env, kOperationFrameCapacity);
        try {
            return operation(*services);
        } catch (const Pegasus::CIMException& e) {
            AssignLastError(exceptionText(e).c_str());
            return ConvertToRC(e);
        } catch (const UnsendableValue& e) {
            AssignLastError(e.reason.c_str());
            return kRcGeneralFailure;
        }
    } catch (...) {
        // Other OpenPegasus failures, a Java exception left pending, no memory:
        // the last error stays as it was.
        return kRcGeneralFailure;
    }
}

// Text from the client library (UTF-8) as a Java string.
java::String javaString(JNIEnv* env, const Pegasus::String& text)
{
    return java::String::construct(env, static_cast<const char*>(text.getCString()));
}

// ------------------------------------------------------------- paths as UTF-8 text

// Appends client library text as UTF-8, encoded as getCString encodes it (a
// surrogate pair as one 4-byte sequence, a lone surrogate as U+FFFD), with a
// backslash before each backslash and double quote when `escape`.  Stops at a
// NUL, as the C string of the text ends there, and then gives false; `ascii`
// turns false at the first character beyond ASCII.
bool appendUtf8(std::string& out, const Pegasus::String& text, bool escape, bool& ascii)
{
    constexpr std::uint32_t kFirstNonAscii = 0x80;
    constexpr std::uint32_t kFirstHighSurrogate = 0xD800;
    constexpr std::uint32_t kFirstLowSurrogate = 0xDC00;
    constexpr std::uint32_t kLastLowSurrogate = 0xDFFF;
    constexpr std::uint32_t kFirstSupplementary = 0x10000;
    constexpr int kSurrogateBits = 10;
    constexpr std::uint32_t kReplacementCharacter = 0xFFFD;
    auto isHigh = [](std::uint32_t c) { return c >= kFirstHighSurrogate && c < kFirstLowSurrogate; };
    auto isLow = [](std::uint32_t c) { return c >= kFirstLowSurrogate && c <= kLastLowSurrogate; };
    const Pegasus::Uint32 n = text.size();
    for (Pegasus::Uint32 i = 0; i < n; ++i) {
        std::uint32_t c = static_cast<Pegasus::Uint16>(text[i]);
        if (c < kFirstNonAscii) {
            if (c == 0) {
                return false;
            }
            if (escape && (c == '\\' || c == '"')) {
                out.push_back('\\');
            }
            out.push_back(static_cast<char>(c));
            continue;
        }
        ascii = false;
        if (isHigh(c) && i + 1 < n && isLow(static_cast<Pegasus::Uint16>(text[i + 1]))) {
            const std::uint32_t low = static_cast<Pegasus::Uint16>(text[++i]);
            c = kFirstSupplementary + ((c - kFirstHighSurrogate) << kSurrogateBits) +
                (low - kFirstLowSurrogate);
        } else if (isHigh(c) || isLow(c)) {
            c = kReplacementCharacter;
        }
        if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        } else if (c < kFirstSupplementary) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        }
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
    return true;
}

// Client library text as the UTF-8 of its C string, written without making one.
std::string narrow(const Pegasus::String& text)
{
    std::string out;
    bool ascii = true;
    appendUtf8(out, text, false, ascii);
    return out;
}

// Writes a client library path as the UTF-8 text Java's CIMObjectPath(String)
// reads: the text of its toString, encoded as getCString encodes it (a
// surrogate pair as one 4-byte sequence, a lone surrogate as U+FFFD), ending
// at a NUL as the C string of that text does.  Written straight from the
// path's parts into a buffer reused from path to path, without the UTF-16
// text in between.
class PathTextWriter {
public:
    // The text of the path; the reference stays valid until the next write.
    const std::string& write(const Pegasus::CIMObjectPath& path)
    {
        m_text.clear();
        m_ascii = true;
        m_ended = false;
        const Pegasus::String& host = path.getHost();
        if (host.size() != 0) {
            appendAscii('/');
            appendAscii('/');
            append(host, false);
            appendAscii('/');
        }
        const Pegasus::CIMNamespaceName& nameSpace = path.getNameSpace();
        if (!nameSpace.isNull() || host.size() != 0) {
            append(nameSpace.getString(), false);
            appendAscii(':');
        }
        append(path.getClassName().getString(), false);
        const Pegasus::Array<Pegasus::CIMKeyBinding>& keys = path.getKeyBindings();
        for (Pegasus::Uint32 i = 0; i < keys.size(); ++i) {
            const Pegasus::CIMKeyBinding& key = keys[i];
            appendAscii(i == 0 ? '.' : ',');
            append(key.getName().getString(), false);
            appendAscii('=');
            const bool quoted = key.getType() == Pegasus::CIMKeyBinding::STRING ||
                                key.getType() == Pegasus::CIMKeyBinding::REFERENCE;
            if (quoted) {
                appendAscii('"');
            }
            append(key.getValue(), true);
            if (quoted) {
                appendAscii('"');
            }
        }
        return m_text;
    }

    // Whether the last text written is all ASCII.
    bool ascii() const { return m_ascii; }

    // A new Java string of the last text written; null with the Java error pending when it cannot be made.
    jobject javaText(JNIEnv* env) const
    {
        if (m_ascii) {
            return env->NewStringUTF(m_text.c_str());  // ASCII reads the same in modified UTF-8
        }
        return java::String::construct(env, m_text.c_str(), m_text.size(), false).m_object;
    }

private:
    void appendAscii(char c)
    {
        if (!m_ended) {
            m_text.push_back(c);
        }
    }

    // Appends text, escaped when `escape` (all of a key value: the path
    // parser reads it back so); nothing more after a NUL.
    void append(const Pegasus::String& text, bool escape)
    {
        if (!m_ended && !appendUtf8(m_text, text, escape, m_ascii)) {
            m_ended = true;  // the C string of today's text ends here
        }
    }

    std::string m_text;
    bool m_ascii = true;
    bool m_ended = false;
};

// The object name of a Java path; a null name reads as empty text.
std::string objectNameOf(JNIEnv* env, jobject path)
{
    cim::CIMObjectPath javaPath(env, path, KnownClass::CIMObjectPath);
    std::string name =
        java::String(env, javaPath.CallObjectMethod("getObjectName", "()Ljava/lang/String;")).getStringA();
    throwIfJavaExceptionPending(env);
    return name;
}

// ------------------------------------------------------------- property loading

using NameSet = std::set<std::string>;  // byte-wise ascending

constexpr Pegasus::Uint32 kKnownTypeCount = Pegasus::CIMTYPE_REFERENCE + 1;

// The Java type fields of each Pegasus type, in CIMType order.
struct JavaTypeRow {
    const char* pegasusName;
    const char* scalarField;
    const char* arrayField;
};

constexpr JavaTypeRow kJavaTypes[kKnownTypeCount] = {
    {"CIMTYPE_BOOLEAN", "BOOLEAN", "BOOLEAN_ARRAY"}, {"CIMTYPE_UINT8", "UINT8", "UINT8_ARRAY"},
    {"CIMTYPE_SINT8", "SINT8", "SINT8_ARRAY"},       {"CIMTYPE_UINT16", "UINT16", "UINT16_ARRAY"},
    {"CIMTYPE_SINT16", "SINT16", "SINT16_ARRAY"},    {"CIMTYPE_UINT32", "UINT32", "UINT32_ARRAY"},
    {"CIMTYPE_SINT32", "SINT32", "SINT32_ARRAY"},    {"CIMTYPE_UINT64", "UINT64", "UINT64_ARRAY"},
    {"CIMTYPE_SINT64", "SINT64", "SINT64_ARRAY"},    {"CIMTYPE_REAL32", "REAL32", "REAL32_ARRAY"},
    {"CIMTYPE_REAL64", "REAL64", "REAL64_ARRAY"},    {"CIMTYPE_CHAR16", "CHAR16", "CHAR16_ARRAY"},
    {"CIMTYPE_STRING", "STRING", "STRING_ARRAY"},    {"CIMTYPE_DATETIME", "DATETIME", "DATETIME_ARRAY"},
    {"CIMTYPE_REFERENCE", "REFERENCE", "REFERENCE"},
};

bool isKnownType(Pegasus::CIMType type)
{
    return static_cast<Pegasus::Uint32>(type) < kKnownTypeCount;
}

// Instances hand unsigned values to Java in the next wider signed type;
// classes keep the unsigned classes.
enum class Unsigned { Keep, Widen };

const char* javaTypeField(Pegasus::CIMType type, bool isArray, Unsigned rule)
{
    if (rule == Unsigned::Widen) {
        switch (type) {
            case Pegasus::CIMTYPE_UINT8:
                return isArray ? "SINT16_ARRAY" : "SINT16";
            case Pegasus::CIMTYPE_UINT16:
                return isArray ? "SINT32_ARRAY" : "SINT32";
            case Pegasus::CIMTYPE_UINT32:
            case Pegasus::CIMTYPE_UINT64:
                return isArray ? "SINT64_ARRAY" : "SINT64";
            default:
                break;
        }
    }
    const JavaTypeRow& row = kJavaTypes[type];
    return isArray ? row.arrayField : row.scalarField;
}

cim::CIMDataType javaDataType(JNIEnv* env, cim::CIMDataTypeClass& types, const char* field)
{
    return cim::CIMDataType::construct(env, types.GetStaticIntField(field, "I"));
}

// Holds a Java object's monitor until the end of the scope.  The constructor
// cannot throw, so a monitor once entered is always left; the caller checks
// for the exception a failed entry leaves.
class JavaMonitor {
public:
    JavaMonitor(JNIEnv* env, jobject object) noexcept : m_env(env), m_object(object)
    {
        m_entered = object != nullptr && !env->ExceptionCheck() && env->MonitorEnter(object) == JNI_OK;
    }
    ~JavaMonitor()
    {
        if (m_entered) {
            m_env->MonitorExit(m_object);
        }
    }
    JavaMonitor(const JavaMonitor&) = delete;
    JavaMonitor& operator=(const JavaMonitor&) = delete;

private:
    JNIEnv* m_env;
    jobject m_object;
    bool m_entered = false;
};

// The value of a boolean qualifier of a class property; false when it is
// absent, of another type or null.
bool booleanQualifier(const Pegasus::CIMConstProperty& property, const Pegasus::CIMName& name, bool& value)
{
    const Pegasus::Uint32 index = property.findQualifier(name);
    if (index == PEG_NOT_FOUND) {
        return false;
    }
    Pegasus::CIMConstQualifier qualifier = property.getQualifier(index);
    const Pegasus::CIMValue& qualifierValue = qualifier.getValue();
    if (qualifier.getType() != Pegasus::CIMTYPE_BOOLEAN || qualifierValue.isArray() ||
        qualifierValue.isNull()) {
        return false;
    }
    Pegasus::Boolean b = false;
    qualifierValue.get(b);
    value = b;
    return true;
}

// The constructors and methods of known classes that JavaObjectMaker calls.
enum class MakerMember {
    NewBoolean,
    NewByte,
    NewShort,
    NewInteger,
    NewLong,
    NewFloat,
    NewDouble,
    NewCharacter,
    NewUnsignedInt8,
    NewUnsignedInt16,
    NewUnsignedInt32,
    NewUnsignedInt64,
    NewDateTime,
    NewPath,
    NewVector,
    VectorAdd,
    NewDataType,
    NewValue,
    NewVectorValue,
    NewProperty,
    SetKey,
    SetOriginClass,
    SetReadable,
    SetWriteable,
    SetType,
    SetValue,
    Count
};

struct MakerMemberRow {
    KnownClass cls;
    const char* name;
    const char* signature;
};

constexpr std::size_t kMakerMemberCount = static_cast<std::size_t>(MakerMember::Count);

constexpr MakerMemberRow kMakerMembers[kMakerMemberCount] = {
    {KnownClass::Boolean, "<init>", "(Z)V"},
    {KnownClass::Byte, "<init>", "(B)V"},
    {KnownClass::Short, "<init>", "(S)V"},
    {KnownClass::Integer, "<init>", "(I)V"},
    {KnownClass::Long, "<init>", "(J)V"},
    {KnownClass::Float, "<init>", "(F)V"},
    {KnownClass::Double, "<init>", "(D)V"},
    {KnownClass::Character, "<init>", "(C)V"},
    {KnownClass::UnsignedInt8, "<init>", "(S)V"},
    {KnownClass::UnsignedInt16, "<init>", "(I)V"},
    {KnownClass::UnsignedInt32, "<init>", "(J)V"},
    {KnownClass::UnsignedInt64, "<init>", "([B)V"},
    {KnownClass::CIMDateTime, "<init>", "(Ljava/lang/String;)V"},
    {KnownClass::CIMObjectPath, "<init>", "(Ljava/lang/String;)V"},
    {KnownClass::Vector, "<init>", "()V"},
    {KnownClass::Vector, "add", "(Ljava/lang/Object;)Z"},
    {KnownClass::CIMDataType, "<init>", "(I)V"},
    {KnownClass::CIMValue, "<init>", "(Ljava/lang/Object;Ljavax/wbem/cim/CIMDataType;)V"},
    {KnownClass::CIMValue, "<init>", "(Ljava/util/Vector;Ljavax/wbem/cim/CIMDataType;)V"},
    {KnownClass::CIMProperty, "<init>", "(Ljava/lang/String;)V"},
    {KnownClass::CIMProperty, "setKey", "(Z)V"},
    {KnownClass::CIMProperty, "setOriginClass", "(Ljava/lang/String;)V"},
    {KnownClass::CIMProperty, "setReadable", "(Z)V"},
    {KnownClass::CIMProperty, "setWriteable", "(Z)V"},
    {KnownClass::CIMProperty, "setType", "(Ljavax/wbem/cim/CIMDataType;)V"},
    {KnownClass::CIMProperty, "setValue", "(Ljavax/wbem/cim/CIMValue;)V"},
};

// Makes the Java objects of client library values and properties.  Each
// constructor and method is looked up once per maker, on first use, and
// called in the jvalue form with one exception check after it: what a
// property costs is then mostly the JNI calls themselves.  A Java call that
// fails stops the work (JavaExceptionPending), its exception left pending for
// the Java caller.  What it makes are local references of the caller's frame.
class JavaObjectMaker {
public:
    explicit JavaObjectMaker(JNIEnv* env) : m_env(env), m_types(cim::CIMDataTypeClass::construct(env)) {}
    JavaObjectMaker(const JavaObjectMaker&) = delete;
    JavaObjectMaker& operator=(const JavaObjectMaker&) = delete;

    JNIEnv* env() const { return m_env; }

    // A Java string of UTF-8 text.
    jobject text(const std::string& utf8)
    {
        const bool ascii = std::all_of(utf8.begin(), utf8.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        if (ascii) {
            return made(m_env->NewStringUTF(utf8.c_str()));  // ASCII reads the same in modified UTF-8
        }
        return made(java::String::construct(m_env, utf8.c_str(), utf8.size(), false).m_object);
    }

    // A Java string of client library text, read as Java would read its C
    // string: up to a NUL, a lone surrogate as U+FFFD.  Made from the UTF-16
    // units, without the C string in between.
    jobject text(const Pegasus::String& text)
    {
        constexpr std::uint16_t kFirstHighSurrogate = 0xD800;
        constexpr std::uint16_t kFirstLowSurrogate = 0xDC00;
        constexpr std::uint16_t kLastLowSurrogate = 0xDFFF;
        constexpr std::uint16_t kReplacementCharacter = 0xFFFD;
        auto isLow = [](std::uint16_t c) { return c >= kFirstLowSurrogate && c <= kLastLowSurrogate; };
        m_units.clear();
        const Pegasus::Uint32 n = text.size();
        for (Pegasus::Uint32 i = 0; i < n; ++i) {
            std::uint16_t c = static_cast<Pegasus::Uint16>(text[i]);
            if (c == 0) {
                break;
            }
            if (c >= kFirstHighSurrogate && c < kFirstLowSurrogate) {
                if (i + 1 < n && isLow(static_cast<Pegasus::Uint16>(text[i + 1]))) {
                    m_units.push_back(c);
                    c = static_cast<Pegasus::Uint16>(text[++i]);
                } else {
                    c = kReplacementCharacter;
                }
            } else if (isLow(c)) {
                c = kReplacementCharacter;
            }
            m_units.push_back(c);
        }
        return made(m_env->NewString(m_units.data(), static_cast<jsize>(m_units.size())));
    }

    // The Java text of a class origin, made once per maker (the properties of
    // a class share one origin or a few): the caller makes it in the frame of
    // the whole load, so that the frames of its properties leave it alone.
    jobject originText(const Pegasus::CIMName& origin)
    {
        const Pegasus::String& name = origin.getString();
        for (const auto& known : m_origins) {
            if (known.first == name) {
                return known.second;
            }
        }
        jobject made = text(name);
        m_origins.emplace_back(name, made);
        return made;
    }

    // The number of a CIMDataType type field, read once per maker.
    jint typeNumber(const char* field)
    {
        for (const auto& known : m_typeNumbers) {
            if (known.first == field) {
                return known.second;
            }
        }
        const jint number = m_types.GetStaticIntField(field, "I");
        throwIfJavaExceptionPending(m_env);
        if (number != kNoTypeNumber) {
            m_typeNumbers.emplace_back(field, number);
        }
        return number;
    }

    // A new Java CIMDataType of the type number.
    jobject newDataType(jint number) { return constructWith(MakerMember::NewDataType, &jvalue::i, number); }

    // A new Java CIMValue of a value object (a Vector of them for an array) and its type.
    jobject newValue(jobject object, jobject type, bool isVector)
    {
        jvalue arguments[2];
        arguments[0].l = object;
        arguments[1].l = type;
        return construct(isVector ? MakerMember::NewVectorValue : MakerMember::NewValue, arguments);
    }

    // A new Java CIMProperty of the name.
    jobject newProperty(jobject name) { return constructWith(MakerMember::NewProperty, &jvalue::l, name); }

    // Vector.add, dispatched as the vector's own class has it; nothing for no vector.
    void add(jobject vector, jobject element)
    {
        if (vector == nullptr) {
            return;
        }
        jvalue argument;
        argument.l = element;
        m_env->CallBooleanMethodA(vector, method(MakerMember::VectorAdd), &argument);
        throwIfJavaExceptionPending(m_env);
    }

    // The Java object (a Vector for an array) of a non-null value of a known type.
    jobject valueObject(const Pegasus::CIMValue& value, Pegasus::CIMType type, bool isArray, Unsigned rule)
    {
        switch (type) {
            case Pegasus::CIMTYPE_BOOLEAN:
                return objectOf<Pegasus::Boolean>(value, isArray, rule);
            case Pegasus::CIMTYPE_UINT8:
                return objectOf<Pegasus::Uint8>(value, isArray, rule);
            case Pegasus::CIMTYPE_SINT8:
                return objectOf<Pegasus::Sint8>(value, isArray, rule);
            case Pegasus::CIMTYPE_UINT16:
                return objectOf<Pegasus::Uint16>(value, isArray, rule);
            case Pegasus::CIMTYPE_SINT16:
                return objectOf<Pegasus::Sint16>(value, isArray, rule);
            case Pegasus::CIMTYPE_UINT32:
                return objectOf<Pegasus::Uint32>(value, isArray, rule);
            case Pegasus::CIMTYPE_SINT32:
                return objectOf<Pegasus::Sint32>(value, isArray, rule);
            case Pegasus::CIMTYPE_UINT64:
                return objectOf<Pegasus::Uint64>(value, isArray, rule);
            case Pegasus::CIMTYPE_SINT64:
                return objectOf<Pegasus::Sint64>(value, isArray, rule);
            case Pegasus::CIMTYPE_REAL32:
                return objectOf<Pegasus::Real32>(value, isArray, rule);
            case Pegasus::CIMTYPE_REAL64:
                return objectOf<Pegasus::Real64>(value, isArray, rule);
            case Pegasus::CIMTYPE_CHAR16:
                return objectOf<Pegasus::Char16>(value, isArray, rule);
            case Pegasus::CIMTYPE_STRING:
                return objectOf<Pegasus::String>(value, isArray, rule);
            case Pegasus::CIMTYPE_DATETIME:
                return objectOf<Pegasus::CIMDateTime>(value, isArray, rule);
            default:
                return objectOf<Pegasus::CIMObjectPath>(value, isArray, rule);
        }
    }

    // A new Vector of one Java object per element.
    template <class T>
    jobject arrayObject(const Pegasus::CIMValue& value, Unsigned rule)
    {
        Pegasus::Array<T> items;
        value.get(items);
        jvalue none{};
        jobject vector = construct(MakerMember::NewVector, &none);
        for (Pegasus::Uint32 first = 0; first < items.size(); first += kArrayElementsPerFrame) {
            LocalFrame frame(m_env, kElementFrameCapacity);
            throwIfJavaExceptionPending(m_env);
            const Pegasus::Uint32 end = std::min(items.size(), first + kArrayElementsPerFrame);
            for (Pegasus::Uint32 i = first; i < end; ++i) {
                add(vector, object(items[i], rule));
            }
        }
        return vector;
    }

    // What both forms of loading do to a Java property that is already
    // added: key flag, origin, access qualifiers, type and value.
    void fillProperty(jobject property, const std::string& name,
                      const Pegasus::CIMConstProperty& classProperty, const Pegasus::CIMValue& value,
                      Pegasus::CIMType type, jobject originText, bool isKey, Unsigned rule)
    {
        jvalue argument;
        if (isKey) {
            argument.z = JNI_TRUE;
            callVoid(property, MakerMember::SetKey, &argument);
        }
        argument.l = originText;
        callVoid(property, MakerMember::SetOriginClass, &argument);
        bool access = false;
        // Made once (every property asks), and never destroyed: listener threads use them.
        static const Pegasus::CIMName& readQualifier = *new Pegasus::CIMName("Read");
        static const Pegasus::CIMName& writeQualifier = *new Pegasus::CIMName("Write");
        if (booleanQualifier(classProperty, readQualifier, access)) {
            argument.z = access ? JNI_TRUE : JNI_FALSE;
            callVoid(property, MakerMember::SetReadable, &argument);
        }
        if (booleanQualifier(classProperty, writeQualifier, access)) {
            argument.z = access ? JNI_TRUE : JNI_FALSE;
            callVoid(property, MakerMember::SetWriteable, &argument);
        }
        if (!isKnownType(type)) {
            return;
        }
        if (rule == Unsigned::Widen) {
            debugmsg("LoadProperties: Property %s has a datatype of %s\n", name.c_str(),
                     kJavaTypes[type].pegasusName);
        }
        // A reference property is one path, whatever its array flag; a reference
        // array gets the type but no value, since no single path holds it.
        const bool isReference = type == Pegasus::CIMTYPE_REFERENCE;
        const bool isArray = classProperty.isArray();
        jobject javaType = newDataType(typeNumber(javaTypeField(type, isArray && !isReference, rule)));
        argument.l = javaType;
        callVoid(property, MakerMember::SetType, &argument);
        if (value.isNull() || (isReference && (isArray || value.isArray()))) {
            return;
        }
        argument.l = newValue(valueObject(value, type, isArray, rule), javaType, isArray);
        callVoid(property, MakerMember::SetValue, &argument);
    }

private:
    // Array elements that share one local frame: two references each at most
    // (a text and the object made of it).
    static constexpr Pegasus::Uint32 kArrayElementsPerFrame = 8;

    struct Member {
        jclass cls = nullptr;
        jmethodID id = nullptr;
    };

    const Member& member(MakerMember which)
    {
        Member& slot = m_members[static_cast<std::size_t>(which)];
        if (slot.id == nullptr) {
            const MakerMemberRow& row = kMakerMembers[static_cast<std::size_t>(which)];
            IndirectJClass cls(m_env, row.cls);
            slot.id = cls.findMethodID(row.name, row.signature);
            throwIfJavaExceptionPending(m_env);
            if (slot.id == nullptr) {
                throw JavaExceptionPending();  // no such member, and yet no Java error: stop all the same
            }
            slot.cls = cls.m_class;
        }
        return slot;
    }

    jmethodID method(MakerMember which) { return member(which).id; }

    // The object a JNI call that makes one made.  Such a call gives null
    // exactly when it fails, its error then pending, so the result is the
    // check: no exception query is needed for it.
    jobject made(jobject object)
    {
        if (object == nullptr) {
            throw JavaExceptionPending();
        }
        return object;
    }

    jobject construct(MakerMember which, const jvalue* arguments)
    {
        const Member& ctor = member(which);
        return made(m_env->NewObjectA(ctor.cls, ctor.id, arguments));
    }

    void callVoid(jobject target, MakerMember which, const jvalue* arguments)
    {
        m_env->CallVoidMethodA(target, method(which), arguments);
        throwIfJavaExceptionPending(m_env);
    }

    template <class T>
    jobject objectOf(const Pegasus::CIMValue& value, bool isArray, Unsigned rule)
    {
        if (isArray) {
            return arrayObject<T>(value, rule);
        }
        T item{};
        value.get(item);
        return object(item, rule);
    }

    // A one-argument constructor call; `field` is the jvalue member that carries it.
    template <class J>
    jobject constructWith(MakerMember which, J jvalue::*field, J value)
    {
        jvalue argument;
        argument.*field = value;
        return construct(which, &argument);
    }

    // One Java object per client library value, as the rule says.  Widening
    // keeps the value: 255 stays 255 in the Java short.
    jobject object(Pegasus::Boolean v, Unsigned)
    {
        return constructWith(MakerMember::NewBoolean, &jvalue::z,
                             static_cast<jboolean>(v ? JNI_TRUE : JNI_FALSE));
    }
    jobject object(Pegasus::Uint8 v, Unsigned rule)
    {
        return constructWith(rule == Unsigned::Widen ? MakerMember::NewShort : MakerMember::NewUnsignedInt8,
                             &jvalue::s, static_cast<jshort>(v));
    }
    jobject object(Pegasus::Sint8 v, Unsigned)
    {
        return constructWith(MakerMember::NewByte, &jvalue::b, jbyte{v});
    }
    jobject object(Pegasus::Uint16 v, Unsigned rule)
    {
        return constructWith(
            rule == Unsigned::Widen ? MakerMember::NewInteger : MakerMember::NewUnsignedInt16, &jvalue::i,
            static_cast<jint>(v));
    }
    jobject object(Pegasus::Sint16 v, Unsigned)
    {
        return constructWith(MakerMember::NewShort, &jvalue::s, jshort{v});
    }
    jobject object(Pegasus::Uint32 v, Unsigned rule)
    {
        return constructWith(rule == Unsigned::Widen ? MakerMember::NewLong : MakerMember::NewUnsignedInt32,
                             &jvalue::j, static_cast<jlong>(v));
    }
    jobject object(Pegasus::Sint32 v, Unsigned)
    {
        return constructWith(MakerMember::NewInteger, &jvalue::i, jint{v});
    }
    jobject object(Pegasus::Uint64 v, Unsigned rule)
    {
        if (rule == Unsigned::Widen) {
            // Widened, the same 64 bits: values from 2^63 up come out negative.
            return constructWith(MakerMember::NewLong, &jvalue::j, static_cast<jlong>(v));
        }
        constexpr int kBytes = 8;
        jbyte bigEndian[kBytes];
        for (int i = 0; i < kBytes; ++i) {
            bigEndian[i] = static_cast<jbyte>(static_cast<std::uint8_t>(v >> (8 * (kBytes - 1 - i))));
        }
        jbyteArray bytes = static_cast<jbyteArray>(made(m_env->NewByteArray(kBytes)));
        m_env->SetByteArrayRegion(bytes, 0, kBytes, bigEndian);
        throwIfJavaExceptionPending(m_env);
        jobject object = constructWith(MakerMember::NewUnsignedInt64, &jvalue::l, jobject{bytes});
        m_env->DeleteLocalRef(bytes);
        return object;
    }
    jobject object(Pegasus::Sint64 v, Unsigned)
    {
        return constructWith(MakerMember::NewLong, &jvalue::j, jlong{v});
    }
    jobject object(Pegasus::Real32 v, Unsigned)
    {
        return constructWith(MakerMember::NewFloat, &jvalue::f, jfloat{v});
    }
    jobject object(Pegasus::Real64 v, Unsigned)
    {
        return constructWith(MakerMember::NewDouble, &jvalue::d, jdouble{v});
    }
    jobject object(const Pegasus::Char16& v, Unsigned)
    {
        return constructWith(MakerMember::NewCharacter, &jvalue::c,
                             static_cast<jchar>(static_cast<Pegasus::Uint16>(v)));
    }
    jobject object(const Pegasus::String& v, Unsigned) { return text(v); }
    jobject object(const Pegasus::CIMDateTime& v, Unsigned)
    {
        return constructWith(MakerMember::NewDateTime, &jvalue::l, text(v.toString()));
    }
    jobject object(const Pegasus::CIMObjectPath& v, Unsigned)
    {
        m_pathText.write(v);
        return constructWith(MakerMember::NewPath, &jvalue::l, made(m_pathText.javaText(m_env)));
    }

    JNIEnv* m_env;
    std::array<Member, kMakerMemberCount> m_members{};
    cim::CIMDataTypeClass m_types;
    std::vector<std::pair<const char*, jint>> m_typeNumbers;  // by the field's literal
    std::vector<std::pair<Pegasus::String, jobject>> m_origins;
    std::vector<jchar> m_units;  // a vector: a string of jchar would instantiate (and export) char_traits
    PathTextWriter m_pathText;
};

// The properties of an instance to load, each with the name Java gets and
// its index in the instance, byte-wise ascending by name.
struct PropertyToLoad {
    std::string name;
    Pegasus::Uint32 index;
};
using PropertyList = std::vector<PropertyToLoad>;

// Sorts by name; of properties named alike the first stays, as a set of
// names found them.
void sortByName(PropertyList& properties)
{
    auto byName = [](const PropertyToLoad& a, const PropertyToLoad& b) { return a.name < b.name; };
    // Classes often declare their properties in this order already.
    if (!std::is_sorted(properties.begin(), properties.end(), byName)) {
        std::stable_sort(properties.begin(), properties.end(), byName);
    }
    properties.erase(
        std::unique(properties.begin(), properties.end(),
                    [](const PropertyToLoad& a, const PropertyToLoad& b) { return a.name == b.name; }),
        properties.end());
}

// The named properties the instance has, under the names given.
PropertyList propertiesNamed(const NameSet& names, const Pegasus::CIMInstance& instance)
{
    PropertyList properties;
    properties.reserve(names.size());
    for (const std::string& name : names) {
        const Pegasus::Uint32 index = instance.findProperty(Pegasus::CIMName(Pegasus::String(name.c_str())));
        if (index != PEG_NOT_FOUND) {
            properties.push_back(PropertyToLoad{name, index});
        }
    }
    return properties;  // already in the set's order
}

// The class's property of the name, whose index is likely `hint`: a class and
// its instances mostly list their properties alike, so that index is tried
// before a search.  False when the class has no such property.
bool classPropertyOf(const Pegasus::CIMClass& cimClass, const Pegasus::CIMName& name, Pegasus::Uint32 hint,
                     std::vector<Pegasus::CIMConstProperty>& found)
{
    if (hint < cimClass.getPropertyCount()) {
        found.push_back(cimClass.getProperty(hint));
        if (found.back().getName().equal(name)) {
            return true;
        }
        found.pop_back();
    }
    const Pegasus::Uint32 index = cimClass.findProperty(name);
    if (index == PEG_NOT_FOUND) {
        return false;
    }
    found.push_back(cimClass.getProperty(index));
    return true;
}

// Instance form: appends Java properties for the listed properties of the
// instance to the vector, holding the vector's monitor meanwhile.
void LoadProperties(JavaObjectMaker& maker, java::Vector& vector, const PropertyList& properties,
                    const Pegasus::CIMInstance& instance, const Pegasus::CIMClass& cimClass, bool isKey)
{
    JNIEnv* env = maker.env();
    JavaMonitor monitor(env, vector.m_object);
    throwIfJavaExceptionPending(env);
    // Of each batch: the properties that the class has too, each with its
    // instance and class property and its origin's text, made before the
    // batch's frame so that the frame leaves the text alone.
    std::vector<const PropertyToLoad*> batch;
    std::vector<Pegasus::CIMConstProperty> instanceProperties;
    std::vector<Pegasus::CIMConstProperty> classProperties;
    jobject originTexts[kPropertiesPerFrame] = {};
    batch.reserve(kPropertiesPerFrame);
    instanceProperties.reserve(kPropertiesPerFrame);
    classProperties.reserve(kPropertiesPerFrame);
    for (std::size_t first = 0; first < properties.size(); first += kPropertiesPerFrame) {
        const std::size_t end = std::min(properties.size(), first + kPropertiesPerFrame);
        batch.clear();
        instanceProperties.clear();
        classProperties.clear();
        for (std::size_t i = first; i < end; ++i) {
            instanceProperties.push_back(instance.getProperty(properties[i].index));
            const Pegasus::CIMConstProperty& instanceProperty = instanceProperties.back();
            if (!classPropertyOf(cimClass, instanceProperty.getName(), properties[i].index,
                                 classProperties)) {
                instanceProperties.pop_back();
                continue;
            }
            originTexts[batch.size()] = maker.originText(instanceProperty.getClassOrigin());
            batch.push_back(&properties[i]);
        }
        LocalFrame frame(env, kElementFrameCapacity);
        throwIfJavaExceptionPending(env);
        for (std::size_t k = 0; k < batch.size(); ++k) {
            const std::string& name = batch[k]->name;
            const Pegasus::CIMConstProperty& instanceProperty = instanceProperties[k];
            jobject javaProperty = maker.newProperty(maker.text(name));
            maker.add(vector.m_object, javaProperty);
            maker.fillProperty(javaProperty, name, classProperties[k], instanceProperty.getValue(),
                               instanceProperty.getType(), originTexts[k], isKey, Unsigned::Widen);
        }
    }
}

// The same for the named properties, under the names given.
void LoadProperties(JNIEnv* env, java::Vector& vector, const NameSet& names,
                    const Pegasus::CIMInstance& instance, const Pegasus::CIMClass& cimClass, bool isKey)
{
    JavaObjectMaker maker(env);
    LoadProperties(maker, vector, propertiesNamed(names, instance), instance, cimClass, isKey);
}

// Class form: adds Java properties for the named properties of the class,
// with their default values, to the Java class.
void LoadProperties(JNIEnv* env, cim::CIMClass& javaClass, const NameSet& names,
                    const Pegasus::CIMClass& cimClass, bool isKey)
{
    JavaObjectMaker maker(env);
    for (const std::string& name : names) {
        const Pegasus::Uint32 classIndex =
            cimClass.findProperty(Pegasus::CIMName(Pegasus::String(name.c_str())));
        if (classIndex == PEG_NOT_FOUND) {
            continue;
        }
        Pegasus::CIMConstProperty classProperty = cimClass.getProperty(classIndex);
        const Pegasus::CIMValue value = classProperty.getValue();
        jobject originText = maker.originText(classProperty.getClassOrigin());
        LocalFrame frame(env, kElementFrameCapacity);
        throwIfJavaExceptionPending(env);

        jobject javaProperty = maker.newProperty(maker.text(name));
        javaClass.CallVoidMethod("addProperty", "(Ljavax/wbem/cim/CIMProperty;)V", javaProperty);
        throwIfJavaExceptionPending(env);
        maker.fillProperty(javaProperty, name, classProperty, value, classProperty.getType(), originText,
                           isKey, Unsigned::Keep);
    }
}

NameSet keyNamesOf(const Pegasus::CIMClass& cimClass)
{
    Pegasus::Array<Pegasus::CIMName> keyNames;
    cimClass.getKeyNames(keyNames);
    NameSet names;
    for (Pegasus::Uint32 i = 0; i < keyNames.size(); ++i) {
        names.insert(narrow(keyNames[i].getString()));
    }
    return names;
}

template <class Object>
NameSet otherNamesOf(const Object& object, const NameSet& keyNames)
{
    NameSet names;
    for (Pegasus::Uint32 i = 0; i < object.getPropertyCount(); ++i) {
        std::string name = narrow(object.getProperty(i).getName().getString());
        if (keyNames.count(name) == 0) {
            names.insert(std::move(name));
        }
    }
    return names;
}

// The key properties of an instance under the class's names for them.
PropertyList keyPropertiesOf(const Pegasus::CIMInstance& instance, const Pegasus::CIMClass& cimClass)
{
    Pegasus::Array<Pegasus::CIMName> keyNames;
    cimClass.getKeyNames(keyNames);
    PropertyList properties;
    properties.reserve(keyNames.size());
    for (Pegasus::Uint32 i = 0; i < keyNames.size(); ++i) {
        const Pegasus::Uint32 index = instance.findProperty(keyNames[i]);
        if (index != PEG_NOT_FOUND) {
            properties.push_back(PropertyToLoad{narrow(keyNames[i].getString()), index});
        }
    }
    sortByName(properties);
    return properties;
}

// The other properties of an instance: those not named exactly as one of the keys.
PropertyList otherPropertiesOf(const Pegasus::CIMInstance& instance, const PropertyList& keys)
{
    PropertyList properties;
    properties.reserve(instance.getPropertyCount());
    for (Pegasus::Uint32 i = 0; i < instance.getPropertyCount(); ++i) {
        std::string name = narrow(instance.getProperty(i).getName().getString());
        const bool isKeyName = std::any_of(keys.begin(), keys.end(),
                                           [&name](const PropertyToLoad& key) { return key.name == name; });
        if (!isKeyName) {
            properties.push_back(PropertyToLoad{std::move(name), i});
        }
    }
    sortByName(properties);
    return properties;
}

// ------------------------------------------------------------- Java values to CIM values

// The value object of a Java CIMValue; null when it has none.
jobject valueObjectOf(JNIEnv* env, cim::CIMValue& value)
{
    jobject object = value.CallObjectMethod("getValue", "()Ljava/lang/Object;");
    throwIfJavaExceptionPending(env);
    return object;
}

// Fails the operation unless the object is of the class a row reads.
void expectClass(JNIEnv* env, jobject object, KnownClass expected)
{
    const bool fits = isInstanceOf(env, object, expected);
    throwIfJavaExceptionPending(env);
    if (!fits) {
        const std::string found = javaClassName(env, object);
        throwIfJavaExceptionPending(env);
        unsendable("the value is a " + found + " where a " + knownClassName(expected) + " is expected");
    }
}

// Reads one object with a row's accessor, after checking its class: an
// accessor called on an object of another class would raise an Error in Java.
// The proxy is made over the row's class, whose members are shared.
template <class T, class Read>
T readJava(JNIEnv* env, jobject object, KnownClass expected, Read read)
{
    expectClass(env, object, expected);
    IndirectJObj proxy(IndirectJClass(env, expected), object);
    const T item = read(proxy);
    throwIfJavaExceptionPending(env);
    return item;
}

// Datetime and reference values cross as text, which the client library parses.
std::string javaText(IndirectJObj& o)
{
    return java::String(o.m_env, o.CallObjectMethod("toString", "()Ljava/lang/String;")).getStringA();
}

// ------------------------------------------------------------- numbers
// A number is checked against its row's range before it is narrowed: a value
// that does not fit is refused, never cut to the row's width.

bool isA(JNIEnv* env, jobject object, KnownClass known)
{
    const bool is = isInstanceOf(env, object, known);
    throwIfJavaExceptionPending(env);
    return is;
}

jlong callLong(IndirectJObj& o, const char* name)
{
    const jlong v = o.CallLongMethod(name, "()J");
    throwIfJavaExceptionPending(o.m_env);
    return v;
}

jint callInt(IndirectJObj& o, const char* name)
{
    const jint v = o.CallIntMethod(name, "()I");
    throwIfJavaExceptionPending(o.m_env);
    return v;
}

double callDouble(IndirectJObj& o, const char* name)
{
    const jdouble v = o.CallDoubleMethod(name, "()D");
    throwIfJavaExceptionPending(o.m_env);
    return v;
}

// A Java number read exactly as a whole number (sign and magnitude), or what
// keeps it from being one that an integer row could hold.
struct WholeNumber {
    enum class Kind { Exact, Fraction, NotFinite, Huge };
    Kind kind = Kind::Exact;
    bool negative = false;
    std::uint64_t magnitude = 0;
};

constexpr double kTwoToThe64 = 18446744073709551616.0;
// Decimal digits of the largest magnitude an integer row holds (2^64 - 1).
constexpr jlong kMaxWholeDigits = 20;

WholeNumber wholeOf(WholeNumber::Kind kind)
{
    WholeNumber n;
    n.kind = kind;
    return n;
}

WholeNumber wholeOfLong(jlong value)
{
    WholeNumber n;
    n.negative = value < 0;
    const auto bits = static_cast<std::uint64_t>(value);
    n.magnitude = n.negative ? 0 - bits : bits;
    return n;
}

// The 64 bits of an unsigned value, as UnsignedInt64's longValue gives them.
WholeNumber wholeOfUnsignedBits(jlong bits)
{
    WholeNumber n;
    n.magnitude = static_cast<std::uint64_t>(bits);
    return n;
}

WholeNumber wholeOfDouble(double value)
{
    if (!std::isfinite(value)) {
        return wholeOf(WholeNumber::Kind::NotFinite);
    }
    if (std::trunc(value) != value) {
        return wholeOf(WholeNumber::Kind::Fraction);
    }
    const double magnitude = std::fabs(value);
    if (magnitude >= kTwoToThe64) {
        return wholeOf(WholeNumber::Kind::Huge);
    }
    WholeNumber n;
    n.negative = value < 0;
    n.magnitude = static_cast<std::uint64_t>(magnitude);
    return n;
}

// Compared through its bit length, never through a longValue that keeps only
// the low 64 bits.
WholeNumber wholeOfBigInteger(JNIEnv* env, jobject object)
{
    IndirectJObj big(IndirectJClass(env, KnownClass::BigInteger), object);
    const jint bitLength = callInt(big, "bitLength");  // without the sign bit
    if (bitLength <= 63) {
        return wholeOfLong(callLong(big, "longValue"));
    }
    if (bitLength == 64 && callInt(big, "signum") > 0) {
        return wholeOfUnsignedBits(callLong(big, "longValue"));
    }
    return wholeOf(WholeNumber::Kind::Huge);
}

WholeNumber wholeOfBigDecimal(JNIEnv* env, jobject object)
{
    IndirectJObj decimal(IndirectJClass(env, KnownClass::BigDecimal), object);
    if (callInt(decimal, "signum") == 0) {
        return WholeNumber();
    }
    IndirectJObj stripped(decimal,
                          decimal.CallObjectMethod("stripTrailingZeros", "()Ljava/math/BigDecimal;"));
    throwIfJavaExceptionPending(env);
    const jlong scale = callInt(stripped, "scale");
    if (scale > 0) {
        return wholeOf(WholeNumber::Kind::Fraction);
    }
    // Checked before toBigInteger, which would spell out 1E+999999999 in full.
    if (static_cast<jlong>(callInt(stripped, "precision")) - scale > kMaxWholeDigits) {
        return wholeOf(WholeNumber::Kind::Huge);
    }
    jobject big = stripped.CallObjectMethod("toBigInteger", "()Ljava/math/BigInteger;");
    throwIfJavaExceptionPending(env);
    return wholeOfBigInteger(env, big);
}

// Number classes whose longValue is their whole value.
constexpr KnownClass kLongValued[] = {
    KnownClass::Integer,      KnownClass::Long,          KnownClass::Short,         KnownClass::Byte,
    KnownClass::UnsignedInt8, KnownClass::UnsignedInt16, KnownClass::UnsignedInt32,
};

WholeNumber wholeOfNumber(IndirectJObj& number)
{
    JNIEnv* env = number.m_env;
    jobject object = number.m_object;
    for (KnownClass known : kLongValued) {
        if (isA(env, object, known)) {
            return wholeOfLong(callLong(number, "longValue"));
        }
    }
    if (isA(env, object, KnownClass::UnsignedInt64)) {
        return wholeOfUnsignedBits(callLong(number, "longValue"));
    }
    if (isA(env, object, KnownClass::BigInteger)) {
        return wholeOfBigInteger(env, object);
    }
    if (isA(env, object, KnownClass::BigDecimal)) {
        return wholeOfBigDecimal(env, object);
    }
    const double real = callDouble(number, "doubleValue");
    const WholeNumber asReal = wholeOfDouble(real);
    if (asReal.kind != WholeNumber::Kind::Exact || isA(env, object, KnownClass::Double) ||
        isA(env, object, KnownClass::Float)) {
        return asReal;
    }
    // Another Number class (AtomicLong, ...): its longValue where its
    // doubleValue agrees, which keeps the digits a double would round away.
    const jlong whole = callLong(number, "longValue");
    return static_cast<double>(whole) == real ? wholeOfLong(whole) : asReal;
}

// Characters of a refused value's text that a last error shows.
constexpr std::size_t kMaxShownValueText = 64;

[[noreturn]] void refuseNumber(IndirectJObj& number, const std::string& why)
{
    std::string text = javaText(number);
    throwIfJavaExceptionPending(number.m_env);
    if (text.size() > kMaxShownValueText) {
        text = text.substr(0, kMaxShownValueText) + "... (" + std::to_string(text.size()) + " characters)";
    }
    const std::string found = javaClassName(number.m_env, number.m_object);
    throwIfJavaExceptionPending(number.m_env);
    unsendable("the value " + text + " (a " + found + ") " + why);
}

// An integer row's value.  A signed row takes its two's complement range; an
// unsigned row takes 0 to its maximum and, as the same bits, the negative
// values of a signed integer of its width (a Java byte -1 is UINT8 255).
template <class T>
T readInteger(IndirectJObj& number)
{
    constexpr bool isSigned = std::numeric_limits<T>::is_signed;
    constexpr int width = std::numeric_limits<T>::digits + (isSigned ? 1 : 0);
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<T>::max());
    constexpr std::uint64_t kMaxNegative = isSigned ? kMax + 1 : (kMax >> 1) + 1;
    const WholeNumber n = wholeOfNumber(number);
    const std::string typeName = std::string(isSigned ? "SINT" : "UINT") + std::to_string(width);
    if (n.kind == WholeNumber::Kind::Fraction || n.kind == WholeNumber::Kind::NotFinite) {
        refuseNumber(number, "is not a whole number, which " + typeName + " needs");
    }
    if (n.kind == WholeNumber::Kind::Exact &&
        (n.negative ? n.magnitude <= kMaxNegative : n.magnitude <= kMax)) {
        if (!n.negative) {
            return static_cast<T>(n.magnitude);
        }
        if constexpr (isSigned) {
            return static_cast<T>(-static_cast<std::int64_t>(n.magnitude - 1) - 1);
        } else {
            return static_cast<T>(0 - n.magnitude);
        }
    }
    const std::string lowest = "-" + std::to_string(kMaxNegative);
    const std::string range =
        isSigned ? lowest + " to " + std::to_string(kMax)
                 : "0 to " + std::to_string(kMax) + ", or " + lowest + " to -1 for the same bits";
    refuseNumber(number, "is outside the range of " + typeName + ", " + range);
}

// A real row's value.  An infinity stands only from a class that can hold
// one: a BigDecimal or BigInteger too large for a double is refused.
double readReal(IndirectJObj& number, const char* typeName)
{
    const double value = callDouble(number, "doubleValue");
    if (std::isinf(value) && !isA(number.m_env, number.m_object, KnownClass::Double) &&
        !isA(number.m_env, number.m_object, KnownClass::Float)) {
        refuseNumber(number, std::string("is outside the range of ") + typeName);
    }
    return value;
}

Pegasus::Real32 readReal32(IndirectJObj& number)
{
    const double value = readReal(number, "REAL32");
    // Java's own narrowing rounds as Java does, from the value's own digits.
    const jfloat narrowed = number.CallFloatMethod("floatValue", "()F");
    throwIfJavaExceptionPending(number.m_env);
    if (std::isinf(narrowed) && !std::isinf(value)) {
        refuseNumber(number, "is outside the range of REAL32, about -3.4E38 to 3.4E38");
    }
    return narrowed;
}

Pegasus::Real64 readReal64(IndirectJObj& number)
{
    return readReal(number, "REAL64");
}

// ------------------------------------------------------------- text

// Characters CIM-XML cannot carry, as XML 1.0 allows none of them even as a
// character reference: the controls other than tab, line feed and carriage
// return, U+FFFE and U+FFFF.  Surrogates are checked apart: a pair is one
// character, half of one is none.
bool isUncarriable(std::uint32_t code)
{
    constexpr std::uint32_t kFirstPrintable = 0x20;
    return (code < kFirstPrintable && code != '\t' && code != '\n' && code != '\r') || code == 0xFFFE ||
           code == 0xFFFF;
}

std::string codeText(std::uint32_t code)
{
    char text[sizeof "U+FFFF"];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(code & 0xFFFFu));
    return text;
}

// Why the text (UTF-8, with a Java string's U+0000 still in its modified form
// C0 80, and a surrogate without its other half as ED A0..BF xx) cannot be
// sent; empty text when it can.
std::string uncarriableText(const std::string& text)
{
    std::size_t character = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0u) == 0x80u) {
            continue;  // inside a character
        }
        const auto at = [&](std::size_t k) {
            return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u;
        };
        std::uint32_t code = byte;
        if (byte == 0xC0u && at(1) == 0x80u) {
            code = 0;
        } else if (byte == 0xEDu && at(1) >= 0xA0u) {
            return "the string holds half of a surrogate pair without its other half at character " +
                   std::to_string(character);
        } else if (byte == 0xEFu && at(1) == 0xBFu && (at(2) == 0xBEu || at(2) == 0xBFu)) {
            code = 0xFFC0u | (at(2) & 0x3Fu);
        }
        if (isUncarriable(code)) {
            return "the string holds " + codeText(code) + " at character " + std::to_string(character) +
                   ", which CIM-XML cannot carry";
        }
        ++character;
    }
    return std::string();
}

Pegasus::String readString(IndirectJObj& o)
{
    const std::string text = java::String(o, o.m_object).getStringA();
    throwIfJavaExceptionPending(o.m_env);
    const std::string refusal = uncarriableText(text);
    if (!refusal.empty()) {
        unsendable(refusal);
    }
    return Pegasus::String(text.c_str());
}

constexpr jchar kFirstSurrogate = 0xD800;
constexpr jchar kLastSurrogate = 0xDFFF;

Pegasus::Char16 readChar16(IndirectJObj& o)
{
    const jchar c = o.CallCharMethod("charValue", "()C");
    throwIfJavaExceptionPending(o.m_env);
    if (c >= kFirstSurrogate && c <= kLastSurrogate) {
        unsendable("the character " + codeText(c) + " is half of a surrogate pair, no character of its own");
    }
    if (isUncarriable(c)) {
        unsendable("the character " + codeText(c) + " cannot be carried by CIM-XML");
    }
    return Pegasus::Char16(c);
}

Pegasus::Boolean readBoolean(IndirectJObj& o)
{
    return o.CallBooleanMethod("booleanValue", "()Z") == JNI_TRUE;
}

Pegasus::CIMDateTime readDateTime(IndirectJObj& o)
{
    return Pegasus::CIMDateTime(Pegasus::String(javaText(o).c_str()));
}

// A reference goes as the bridge's own path text, as object paths do.
Pegasus::CIMObjectPath readPath(IndirectJObj& o)
{
    return Pegasus::CIMObjectPath(Pegasus::String(referenceText(o.m_env, o.m_object, 0).c_str()));
}

template <class T, T (*Read)(IndirectJObj&), KnownClass Expected>
void convertScalar(JNIEnv* env, cim::CIMValue& value, Pegasus::CIMType type, Pegasus::CIMValue& out)
{
    jobject object = valueObjectOf(env, value);
    if (object == nullptr) {
        out = Pegasus::CIMValue(type, false);  // null, but of the right type for the server
        return;
    }
    out = Pegasus::CIMValue(readJava<T>(env, object, Expected, Read));
}

template <class T, T (*Read)(IndirectJObj&), KnownClass Expected>
void convertArray(JNIEnv* env, cim::CIMValue& value, Pegasus::CIMType type, Pegasus::CIMValue& out)
{
    jobject object = valueObjectOf(env, value);
    if (object == nullptr) {
        out = Pegasus::CIMValue(type, true);
        return;
    }
    expectClass(env, object, KnownClass::Collection);
    Pegasus::Array<T> items;
    java::Collection collection(env, object);
    java::Iterator iterator = collection.iterator();
    throwIfJavaExceptionPending(env);
    for (Pegasus::Uint32 index = 0;; ++index) {
        LocalFrame frame(env, kElementFrameCapacity);
        const bool more = iterator.CallBooleanMethod("hasNext", "()Z") == JNI_TRUE;
        throwIfJavaExceptionPending(env);
        if (!more) {
            break;
        }
        jobject element = iterator.CallObjectMethod("next", "()Ljava/lang/Object;");
        throwIfJavaExceptionPending(env);
        const std::string where = "element " + std::to_string(index);
        // Skipping it would move every later element to another index.
        if (element == nullptr) {
            unsendable(where + " is null, and an array cannot carry a null");
        }
        try {
            items.append(readJava<T>(env, element, Expected, Read));
        } catch (UnsendableValue& e) {
            e.reason = where + ": " + e.reason;
            throw;
        }
    }
    out = Pegasus::CIMValue(items);
}

using Converter = void (*)(JNIEnv*, cim::CIMValue&, Pegasus::CIMType, Pegasus::CIMValue&);

void convertNull(JNIEnv*, cim::CIMValue&, Pegasus::CIMType, Pegasus::CIMValue& out)
{
    out = Pegasus::CIMValue();  // the inner value is not looked at
}

struct JavaToCimRow {
    const char* field;
    Pegasus::CIMType type;
    Converter convert;
    bool optional;  // a field not every Java CIMDataType declares
};

template <class T, T (*Read)(IndirectJObj&), KnownClass Expected>
constexpr JavaToCimRow scalarRow(const char* field, Pegasus::CIMType type)
{
    return JavaToCimRow{field, type, convertScalar<T, Read, Expected>, false};
}

template <class T, T (*Read)(IndirectJObj&), KnownClass Expected>
constexpr JavaToCimRow arrayRow(const char* field, Pegasus::CIMType type, bool optional = false)
{
    return JavaToCimRow{field, type, convertArray<T, Read, Expected>, optional};
}

using Pegasus::Real32;
using Pegasus::Real64;
using Pegasus::Sint16;
using Pegasus::Sint32;
using Pegasus::Sint64;
using Pegasus::Sint8;
using Pegasus::Uint16;
using Pegasus::Uint64;
using Pegasus::Uint8;
constexpr KnownClass kNumber = KnownClass::Number;

// In the order the type fields are compared; the last four carry datetime and
// reference values, which would otherwise be lost.  Every number row reads
// any java.lang.Number, the unsigned classes included, and refuses a value
// outside its range.
const JavaToCimRow kJavaToCim[] = {
    scalarRow<Sint8, readInteger<Sint8>, kNumber>("SINT8", Pegasus::CIMTYPE_SINT8),
    arrayRow<Sint8, readInteger<Sint8>, kNumber>("SINT8_ARRAY", Pegasus::CIMTYPE_SINT8),
    scalarRow<Sint16, readInteger<Sint16>, kNumber>("SINT16", Pegasus::CIMTYPE_SINT16),
    arrayRow<Sint16, readInteger<Sint16>, kNumber>("SINT16_ARRAY", Pegasus::CIMTYPE_SINT16),
    scalarRow<Sint32, readInteger<Sint32>, kNumber>("SINT32", Pegasus::CIMTYPE_SINT32),
    arrayRow<Sint32, readInteger<Sint32>, kNumber>("SINT32_ARRAY", Pegasus::CIMTYPE_SINT32),
    scalarRow<Sint64, readInteger<Sint64>, kNumber>("SINT64", Pegasus::CIMTYPE_SINT64),
    arrayRow<Sint64, readInteger<Sint64>, kNumber>("SINT64_ARRAY", Pegasus::CIMTYPE_SINT64),
    scalarRow<Uint8, readInteger<Uint8>, kNumber>("UINT8", Pegasus::CIMTYPE_UINT8),
    arrayRow<Uint8, readInteger<Uint8>, kNumber>("UINT8_ARRAY", Pegasus::CIMTYPE_UINT8),
    scalarRow<Uint16, readInteger<Uint16>, kNumber>("UINT16", Pegasus::CIMTYPE_UINT16),
    arrayRow<Uint16, readInteger<Uint16>, kNumber>("UINT16_ARRAY", Pegasus::CIMTYPE_UINT16),
    scalarRow<Uint32, readInteger<Uint32>, kNumber>("UINT32", Pegasus::CIMTYPE_UINT32),
    arrayRow<Uint32, readInteger<Uint32>, kNumber>("UINT32_ARRAY", Pegasus::CIMTYPE_UINT32),
    scalarRow<Uint64, readInteger<Uint64>, kNumber>("UINT64", Pegasus::CIMTYPE_UINT64),
    arrayRow<Uint64, readInteger<Uint64>, kNumber>("UINT64_ARRAY", Pegasus::CIMTYPE_UINT64),
    scalarRow<Real32, readReal32, kNumber>("REAL32", Pegasus::CIMTYPE_REAL32),
    arrayRow<Real32, readReal32, kNumber>("REAL32_ARRAY", Pegasus::CIMTYPE_REAL32),
    scalarRow<Real64, readReal64, kNumber>("REAL64", Pegasus::CIMTYPE_REAL64),
    arrayRow<Real64, readReal64, kNumber>("REAL64_ARRAY", Pegasus::CIMTYPE_REAL64),
    scalarRow<Pegasus::String, readString, KnownClass::String>("STRING", Pegasus::CIMTYPE_STRING),
    arrayRow<Pegasus::String, readString, KnownClass::String>("STRING_ARRAY", Pegasus::CIMTYPE_STRING),
    {"NULL", Pegasus::CIMTYPE_BOOLEAN, convertNull, false},
    scalarRow<Pegasus::Char16, readChar16, KnownClass::Character>("CHAR16", Pegasus::CIMTYPE_CHAR16),
    arrayRow<Pegasus::Char16, readChar16, KnownClass::Character>("CHAR16_ARRAY", Pegasus::CIMTYPE_CHAR16),
    scalarRow<Pegasus::Boolean, readBoolean, KnownClass::Boolean>("BOOLEAN", Pegasus::CIMTYPE_BOOLEAN),
    arrayRow<Pegasus::Boolean, readBoolean, KnownClass::Boolean>("BOOLEAN_ARRAY", Pegasus::CIMTYPE_BOOLEAN),
    scalarRow<Pegasus::CIMDateTime, readDateTime, KnownClass::CIMDateTime>("DATETIME",
                                                                           Pegasus::CIMTYPE_DATETIME),
    arrayRow<Pegasus::CIMDateTime, readDateTime, KnownClass::CIMDateTime>("DATETIME_ARRAY",
                                                                          Pegasus::CIMTYPE_DATETIME),
    scalarRow<Pegasus::CIMObjectPath, readPath, KnownClass::CIMObjectPath>("REFERENCE",
                                                                           Pegasus::CIMTYPE_REFERENCE),
    arrayRow<Pegasus::CIMObjectPath, readPath, KnownClass::CIMObjectPath>("REFERENCE_ARRAY",
                                                                          Pegasus::CIMTYPE_REFERENCE, true),
};

const JavaToCimRow& rowOfField(const char* field)
{
    for (const JavaToCimRow& row : kJavaToCim) {
        if (std::strcmp(row.field, field) == 0) {
            return row;
        }
    }
    throw std::logic_error(std::string("no Java-to-CIM row for ") + field);
}

// The type a value object's class stands for, for a value without a data
// type: the same classes the path text writes untyped keys by.
struct TypeOfClass {
    KnownClass javaClass;
    const char* scalarField;
    const char* arrayField;
};

const TypeOfClass kTypeOfClass[] = {
    {KnownClass::String, "STRING", "STRING_ARRAY"},
    {KnownClass::Character, "CHAR16", "CHAR16_ARRAY"},
    {KnownClass::Boolean, "BOOLEAN", "BOOLEAN_ARRAY"},
    {KnownClass::UnsignedInt8, "UINT8", "UINT8_ARRAY"},
    {KnownClass::UnsignedInt16, "UINT16", "UINT16_ARRAY"},
    {KnownClass::UnsignedInt32, "UINT32", "UINT32_ARRAY"},
    {KnownClass::UnsignedInt64, "UINT64", "UINT64_ARRAY"},
    {KnownClass::Byte, "SINT8", "SINT8_ARRAY"},
    {KnownClass::Short, "SINT16", "SINT16_ARRAY"},
    {KnownClass::Integer, "SINT32", "SINT32_ARRAY"},
    {KnownClass::Long, "SINT64", "SINT64_ARRAY"},
    {KnownClass::Float, "REAL32", "REAL32_ARRAY"},
    {KnownClass::Double, "REAL64", "REAL64_ARRAY"},
    {KnownClass::CIMDateTime, "DATETIME", "DATETIME_ARRAY"},
    {KnownClass::CIMObjectPath, "REFERENCE", "REFERENCE_ARRAY"},
};

const TypeOfClass* typeOfObject(JNIEnv* env, jobject object)
{
    for (const TypeOfClass& entry : kTypeOfClass) {
        const bool matches = isInstanceOf(env, object, entry.javaClass);
        throwIfJavaExceptionPending(env);
        if (matches) {
            return &entry;
        }
    }
    return nullptr;
}

// The row for a value whose CIMValue has no data type: by its value object's
// class, a Vector by its first element that is not null.
const JavaToCimRow& rowOfUntypedValue(JNIEnv* env, cim::CIMValue& value)
{
    jobject object = valueObjectOf(env, value);
    if (object == nullptr) {
        return rowOfField("NULL");  // no type and no value: nothing to lose
    }
    const bool isVector = isInstanceOf(env, object, KnownClass::Vector);
    throwIfJavaExceptionPending(env);
    if (!isVector) {
        if (const TypeOfClass* type = typeOfObject(env, object)) {
            return rowOfField(type->scalarField);
        }
        const std::string found = javaClassName(env, object);
        throwIfJavaExceptionPending(env);
        unsendable("the value has no data type, and its value object, a " + found + ", gives none");
    }
    java::Vector vector(env, object);
    const jint count = vector.CallIntMethod("size", "()I");
    throwIfJavaExceptionPending(env);
    for (jint i = 0; i < count; ++i) {
        LocalFrame frame(env, kElementFrameCapacity);
        jobject element = vector.CallObjectMethod("get", "(I)Ljava/lang/Object;", i);
        throwIfJavaExceptionPending(env);
        if (element == nullptr) {
            continue;
        }
        if (const TypeOfClass* type = typeOfObject(env, element)) {
            return rowOfField(type->arrayField);
        }
        const std::string found = javaClassName(env, element);
        throwIfJavaExceptionPending(env);
        unsendable("the value has no data type, and its first element, a " + found + ", gives none");
    }
    unsendable("the value has no data type, and its Vector holds no element to take one from");
}

// Reads a type field that may be missing; kNoTypeNumber when it is.  Only the
// lookup's own NoSuchFieldError is cleared: any other exception (one already
// pending, a failed class initialisation) stays for the caller
// (JavaExceptionPending).
jint optionalTypeField(cim::CIMDataTypeClass& types, const char* field)
{
    JNIEnv* env = types.m_env;
    throwIfJavaExceptionPending(env);
    const jint number = types.GetStaticIntField(field, "I");
    if (!env->ExceptionCheck()) {
        return number;
    }
    jthrowable thrown = env->ExceptionOccurred();
    env->ExceptionClear();
    if (!isInstanceOf(env, thrown, KnownClass::NoSuchFieldError)) {
        if (!env->ExceptionCheck()) {
            env->Throw(thrown);
        }
        throw JavaExceptionPending();
    }
    env->DeleteLocalRef(thrown);
    return kNoTypeNumber;
}

// A Java CIMValue as a Pegasus value.  A null Java CIMValue is the null
// value; a value that cannot be sent as it is fails the operation
// (UnsendableValue), so nothing half-converted reaches the server.
void CIMValueToCIMValue(cim::CIMValue& value, Pegasus::CIMValue& out)
{
    JNIEnv* env = value.m_env;
    if (value.m_object == nullptr) {
        throwIfJavaExceptionPending(env);
        out = Pegasus::CIMValue();
        return;
    }
    cim::CIMDataType type(env, value.CallObjectMethod("getType", "()Ljavax/wbem/cim/CIMDataType;"));
    throwIfJavaExceptionPending(env);
    if (type.m_object == nullptr) {
        const JavaToCimRow& row = rowOfUntypedValue(env, value);
        row.convert(env, value, row.type, out);
        return;
    }
    const jint number = type.CallIntMethod("getType", "()I");
    throwIfJavaExceptionPending(env);
    for (const JavaToCimRow& row : kJavaToCim) {
        const bool matches = row.optional
                                 ? optionalTypeField(type, row.field) == number && number != kNoTypeNumber
                                 : isType(type, number, row.field);
        throwIfJavaExceptionPending(env);
        if (matches) {
            row.convert(env, value, row.type, out);
            return;
        }
    }
    unsendable("the value's type number " + std::to_string(number) + " is no CIM data type");
}

// Converts a value for an operation; a value that cannot be sent names what
// it was for (`what` is called only then, with no exception pending).
template <class Describe>
void convertForServer(cim::CIMValue& value, Pegasus::CIMValue& out, Describe what)
{
    try {
        CIMValueToCIMValue(value, out);
    } catch (UnsendableValue& e) {
        e.reason = what() + ": " + e.reason + "; nothing was sent";
        throw;
    } catch (const Pegasus::Exception& e) {
        // Text the client library refuses (a datetime, a reference path).
        throw UnsendableValue{what() + ": " + exceptionText(e) + "; nothing was sent"};
    }
}

// ------------------------------------------------------------- reads

// The client library's null CIMName (the top of the class tree) for an empty name.
Pegasus::CIMName classNameOrTop(const std::string& name)
{
    return name.empty() ? Pegasus::CIMName() : Pegasus::CIMName(Pegasus::String(name.c_str()));
}

jint enumerateClassNames(JNIEnv* env, WbemServices& services, jobject result, jobject path, bool deep)
{
    const Pegasus::CIMName className = classNameOrTop(objectNameOf(env, path));
    const Pegasus::Array<Pegasus::CIMName> names =
        services.m_client->enumerateClassNames(*services.m_nameSpace, className, deep);
    java::Vector vector(env, result);
    for (Pegasus::Uint32 i = 0; i < names.size(); ++i) {
        LocalFrame frame(env, kElementFrameCapacity);
        cim::CIMObjectPath javaPath =
            cim::CIMObjectPath::construct(env, javaString(env, names[i].getString()));
        vector.CallBooleanMethod("add", "(Ljava/lang/Object;)Z", javaPath.m_object);
        throwIfJavaExceptionPending(env);
    }
    return kRcOk;
}

jint enumerateInstanceNames(JNIEnv* env, WbemServices& services, jobject result, jobject path)
{
    const Pegasus::CIMName className(Pegasus::String(objectNameOf(env, path).c_str()));
    const Pegasus::Array<Pegasus::CIMObjectPath> paths =
        services.m_client->enumerateInstanceNames(*services.m_nameSpace, className);
    // The constructor and add are looked up once: per name there are only its
    // text, its path and the add, each checked once.  The result is a Vector
    // (the native's parameter type), so Vector's add dispatches as its own would.
    IndirectJClass pathClass(env, KnownClass::CIMObjectPath);
    const jmethodID newPath = pathClass.findMethodID("<init>", "(Ljava/lang/String;)V");
    IndirectJClass vectorClass(env, KnownClass::Vector);
    const jmethodID add = vectorClass.findMethodID("add", "(Ljava/lang/Object;)Z");
    throwIfJavaExceptionPending(env);
    if (newPath == nullptr || add == nullptr) {
        return kRcGeneralFailure;  // the known classes lack what they always have
    }
    PathTextWriter text;
    for (Pegasus::Uint32 first = 0; first < paths.size(); first += kNamesPerFrame) {
        LocalFrame frame(env, kElementFrameCapacity);
        const Pegasus::Uint32 end = std::min(paths.size(), first + kNamesPerFrame);
        for (Pegasus::Uint32 i = first; i < end; ++i) {
            // Instances of subclasses are left out.
            if (!paths[i].getClassName().equal(className)) {
                continue;
            }
            text.write(paths[i]);
            jvalue argument;
            argument.l = text.javaText(env);
            throwIfJavaExceptionPending(env);
            argument.l = env->NewObjectA(pathClass.m_class, newPath, &argument);
            throwIfJavaExceptionPending(env);
            if (result != nullptr) {
                env->CallBooleanMethodA(result, add, &argument);
                throwIfJavaExceptionPending(env);
            }
        }
    }
    return kRcOk;
}

jint getInstance(JNIEnv* env, WbemServices& services, jobject target, jobject path)
{
    // Traced before it is parsed: for a path the parser refuses, this line says why.
    const std::string pathText = ObjectPathAsString(env, path);
    debugmsg("XXX: getInstance(): Instance Object Path = \"%s\"\n", pathText.c_str());
    const Pegasus::CIMObjectPath instanceName{Pegasus::String(pathText.c_str())};
    const Pegasus::CIMInstance instance = services.m_client->getInstance(
        *services.m_nameSpace, instanceName, false, true, true, Pegasus::CIMPropertyList());
    const Pegasus::CIMClass cimClass = services.m_client->getClass(
        *services.m_nameSpace, instance.getClassName(), false, true, true, Pegasus::CIMPropertyList());
    debugmsg("XXX: getInstance(): Querying Class \"%s\" for keys\n",
             static_cast<const char*>(instance.getClassName().getString().getCString()));

    const PropertyList keys = keyPropertiesOf(instance, cimClass);
    JavaObjectMaker maker(env);
    java::Vector keyVector = java::Vector::construct(env);
    LoadProperties(maker, keyVector, keys, instance, cimClass, true);
    java::Vector otherVector = java::Vector::construct(env);
    LoadProperties(maker, otherVector, otherPropertiesOf(instance, keys), instance, cimClass, false);
    keyVector.CallBooleanMethod("addAll", "(Ljava/util/Collection;)Z", otherVector.m_object);
    throwIfJavaExceptionPending(env);

    // Each setter is the caller's own code: one that throws stops the operation.
    cim::CIMInstance javaInstance(env, target, KnownClass::CIMInstance);
    const std::string fullPath = narrow(services.m_nameSpace->getString()) + ":" + pathText;
    debugmsg("XXX: getInstance: Setting Instance Object Path to \"%s\"\n", fullPath.c_str());
    cim::CIMObjectPath javaPath =
        cim::CIMObjectPath::construct(env, java::String::construct(env, fullPath.c_str()));
    throwIfJavaExceptionPending(env);
    javaInstance.CallVoidMethod("setObjectPath", "(Ljavax/wbem/cim/CIMObjectPath;)V", javaPath.m_object);
    throwIfJavaExceptionPending(env);
    java::String className = javaString(env, instance.getClassName().getString());
    throwIfJavaExceptionPending(env);
    javaInstance.CallVoidMethod("setClassName", "(Ljava/lang/String;)V", className.m_object);
    throwIfJavaExceptionPending(env);
    javaInstance.CallVoidMethod("setProperties", "(Ljava/util/Vector;)V", keyVector.m_object);
    throwIfJavaExceptionPending(env);
    return kRcOk;
}

// ------------------------------------------------------------- CIM values to Java values

// A method's return value or output parameter as a new Java CIMValue: the
// unsigned types as the unsigned classes, arrays as a Vector.  A null value
// keeps its type; a type without a Java row (and a reference array where the
// Java CIMDataType has no REFERENCE_ARRAY) gets the "NULL" type.
cim::CIMValue CIMValueToJavaObject(JNIEnv* env, const Pegasus::CIMValue& value)
{
    cim::CIMDataTypeClass types = cim::CIMDataTypeClass::construct(env);
    const Pegasus::CIMType type = value.getType();
    const bool isArray = value.isArray();
    jint number = kNoTypeNumber;
    jobject object = nullptr;
    JavaObjectMaker maker(env);
    if (type == Pegasus::CIMTYPE_REFERENCE && isArray) {
        number = optionalTypeField(types, "REFERENCE_ARRAY");
        throwIfJavaExceptionPending(env);
        if (number != kNoTypeNumber && !value.isNull()) {
            object = maker.arrayObject<Pegasus::CIMObjectPath>(value, Unsigned::Keep);
        }
    } else if (isKnownType(type)) {
        number = types.GetStaticIntField(javaTypeField(type, isArray, Unsigned::Keep), "I");
        throwIfJavaExceptionPending(env);
        if (!value.isNull()) {
            object = maker.valueObject(value, type, isArray, Unsigned::Keep);
        }
    }
    if (number == kNoTypeNumber) {
        number = types.GetStaticIntField("NULL", "I");
        object = nullptr;
    }
    throwIfJavaExceptionPending(env);
    cim::CIMValue result = cim::CIMValue::construct(env, object, cim::CIMDataType::construct(env, number));
    throwIfJavaExceptionPending(env);
    return result;
}

// ------------------------------------------------------------- writes

jint createInstance(JNIEnv* env, WbemServices& services, jobject result, jobject path, jobject instance)
{
    cim::CIMInstance javaInstance(env, instance);
    const std::string className =
        java::String(env, javaInstance.CallObjectMethod("getClassName", "()Ljava/lang/String;")).getStringA();
    throwIfJavaExceptionPending(env);
    Pegasus::CIMInstance newInstance(Pegasus::CIMName(Pegasus::String(className.c_str())));
    std::string pathText;
    newInstance.setPath(pegasusPath(env, path, pathText));

    java::Vector properties(env, javaInstance.CallObjectMethod("getProperties", "()Ljava/util/Vector;"));
    const jint count = properties.CallIntMethod("size", "()I");
    throwIfJavaExceptionPending(env);
    for (jint i = 0; i < count; ++i) {
        LocalFrame frame(env, kElementFrameCapacity);
        cim::CIMProperty property(env, properties.CallObjectMethod("get", "(I)Ljava/lang/Object;", i));
        cim::CIMValue javaValue(env, property.CallObjectMethod("getValue", "()Ljavax/wbem/cim/CIMValue;"));
        throwIfJavaExceptionPending(env);
        const auto propertyName = [&] {
            std::string name =
                java::String(env, property.CallObjectMethod("getName", "()Ljava/lang/String;")).getStringA();
            throwIfJavaExceptionPending(env);
            return name;
        };
        Pegasus::CIMValue value;
        convertForServer(javaValue, value, [&] { return "createInstance: property " + propertyName(); });
        const std::string name = propertyName();
        newInstance.addProperty(Pegasus::CIMProperty(Pegasus::CIMName(Pegasus::String(name.c_str())), value,
                                                     0, Pegasus::CIMName(), Pegasus::CIMName(), false));
    }

    const Pegasus::CIMObjectPath created =
        services.m_client->createInstance(*services.m_nameSpace, newInstance);

    // The caller's path changes only now that the server has the instance.
    cim::CIMObjectPath made = cim::CIMObjectPath::construct(env, javaString(env, created.toString()));
    throwIfJavaExceptionPending(env);
    cim::CIMObjectPath target(env, result);
    // Each part is read and handed over in turn; a setter that throws stops the copy.
    const auto copy = [&](const char* getter, const char* setter, const char* type) {
        const std::string getterSignature = std::string("()") + type;
        const std::string setterSignature = std::string("(") + type + ")V";
        jobject part = made.CallObjectMethod(getter, getterSignature.c_str());
        throwIfJavaExceptionPending(env);
        target.CallVoidMethod(setter, setterSignature.c_str(), part);
        throwIfJavaExceptionPending(env);
    };
    copy("getObjectName", "setObjectName", "Ljava/lang/String;");
    copy("getNameSpace", "setNameSpace", "Ljava/lang/String;");
    copy("getHost", "setHost", "Ljava/lang/String;");
    copy("getKeys", "setKeys", "Ljava/util/Vector;");
    return kRcOk;
}

jint deleteInstance(JNIEnv* env, WbemServices& services, jobject path)
{
    std::string pathText;
    const Pegasus::CIMObjectPath instanceName = pegasusPath(env, path, pathText);
    services.m_client->deleteInstance(*services.m_nameSpace, instanceName);
    return kRcOk;
}

// The whole instance and its class, as the property readers fetch them.
struct InstanceWithClass {
    Pegasus::CIMInstance instance;
    Pegasus::CIMClass cimClass;
};

InstanceWithClass fetchInstanceWithClass(JNIEnv* env, WbemServices& services, jobject path)
{
    std::string pathText;
    const Pegasus::CIMObjectPath instanceName = pegasusPath(env, path, pathText);
    InstanceWithClass fetched;
    fetched.instance = services.m_client->getInstance(*services.m_nameSpace, instanceName, false, true, true,
                                                      Pegasus::CIMPropertyList());
    fetched.cimClass = services.m_client->getClass(*services.m_nameSpace, fetched.instance.getClassName(),
                                                   false, true, true, Pegasus::CIMPropertyList());
    return fetched;
}

jint getProperty(JNIEnv* env, WbemServices& services, jobject target, jobject path, jstring propertyName)
{
    const InstanceWithClass fetched = fetchInstanceWithClass(env, services, path);
    NameSet names;
    names.insert(java::String(env, propertyName).getStringA());
    throwIfJavaExceptionPending(env);
    java::Vector vector = java::Vector::construct(env);
    LoadProperties(env, vector, names, fetched.instance, fetched.cimClass, false);
    if (vector.CallIntMethod("size", "()I") <= 0) {
        throwIfJavaExceptionPending(env);
        return kRcGeneralFailure;  // no such property; no last error
    }
    cim::CIMProperty property(env, vector.CallObjectMethod("get", "(I)Ljava/lang/Object;", 0));
    cim::CIMValue value(env, property.CallObjectMethod("getValue", "()Ljavax/wbem/cim/CIMValue;"));
    throwIfJavaExceptionPending(env);
    if (value.m_object == nullptr) {
        return kRcOk;  // a null value leaves the caller's value as it was
    }
    cim::CIMValue javaTarget(env, target);
    javaTarget.CallVoidMethod("setValue", "(Ljava/lang/Object;)V",
                              value.CallObjectMethod("getValue", "()Ljava/lang/Object;"));
    throwIfJavaExceptionPending(env);
    return kRcOk;
}

jint getProperties(JNIEnv* env, WbemServices& services, jobject result, jobject path,
                   jobjectArray propertyNames)
{
    const InstanceWithClass fetched = fetchInstanceWithClass(env, services, path);
    NameSet names;
    if (propertyNames != nullptr) {
        const jsize count = env->GetArrayLength(propertyNames);
        for (jsize i = 0; i < count; ++i) {
            jobject name = env->GetObjectArrayElement(propertyNames, i);
            throwIfJavaExceptionPending(env);
            std::string text = java::String(env, name).getStringA();
            throwIfJavaExceptionPending(env);
            // A null or empty name names no property: skipped as a name the instance lacks.
            if (!text.empty()) {
                names.insert(std::move(text));
            }
            env->DeleteLocalRef(name);
        }
    }
    java::Vector vector(env, result);
    LoadProperties(env, vector, names, fetched.instance, fetched.cimClass, false);
    return kRcOk;
}

jint setProperty(JNIEnv* env, WbemServices& services, jobject path, jstring propertyName, jobject newValue)
{
    std::string pathText;
    const Pegasus::CIMObjectPath instanceName = pegasusPath(env, path, pathText);
    cim::CIMValue javaValue(env, newValue);
    const std::string name = java::String(env, propertyName).getStringA();
    throwIfJavaExceptionPending(env);
    Pegasus::CIMValue value;
    convertForServer(javaValue, value, [&] { return "setProperty: property " + name; });
    services.m_client->setProperty(*services.m_nameSpace, instanceName,
                                   Pegasus::CIMName(Pegasus::String(name.c_str())), value);
    return kRcOk;
}

// ------------------------------------------------------------- indications

// A listener thread's tie to the JVM, made on its first indication and kept
// for the thread's life: attaching and detaching per indication costs more
// than the rest of the delivery.  A thread the JVM already knows (a Java
// thread, or one its owner attached) is used as it is and never detached
// here: detaching it would pull the JVM out from under its owner.  Threads
// attached here are daemons, so they never hold the JVM's exit up.
class ListenerThreadAttachment {
public:
    ListenerThreadAttachment() = default;
    ~ListenerThreadAttachment()
    {
        if (m_attachedHere && m_jvm != nullptr) {
            m_jvm->DetachCurrentThread();
        }
    }
    ListenerThreadAttachment(const ListenerThreadAttachment&) = delete;
    ListenerThreadAttachment& operator=(const ListenerThreadAttachment&) = delete;

    // This thread's environment in the JVM; null when it cannot be had.
    JNIEnv* env(JavaVM* jvm)
    {
        if (jvm == nullptr) {
            return nullptr;
        }
        JNIEnv* env = nullptr;
        if (jvm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) == JNI_OK) {
            return env;
        }
        if (m_attachedHere) {
            return nullptr;  // attached here once, and the JVM has since gone
        }
        JavaVMAttachArgs arguments{JNI_VERSION_1_6, const_cast<char*>(kListenerThreadName), nullptr};
        if (jvm->AttachCurrentThreadAsDaemon(reinterpret_cast<void**>(&env), &arguments) != JNI_OK) {
            return nullptr;
        }
        m_jvm = jvm;
        m_attachedHere = true;
        return env;
    }

private:
    static constexpr const char* kListenerThreadName = "CIM indication listener";
    JavaVM* m_jvm = nullptr;
    bool m_attachedHere = false;
};

thread_local ListenerThreadAttachment t_listenerAttachment;

void forwardIndication(JNIEnv* env, WbemServices& services, WbemIndicationConsumer& consumer,
                       const Pegasus::CIMInstance& indicationInstance)
{
    // Only read here, and the listener's copy stays unchanged meanwhile: no copy of our own.
    const Pegasus::CIMInstance& instance = indicationInstance;
    const Pegasus::CIMClass cimClass = services.m_client->getClass(
        *services.m_nameSpace, instance.getClassName(), false, true, true, Pegasus::CIMPropertyList());
    const PropertyList keys = keyPropertiesOf(instance, cimClass);
    JavaObjectMaker maker(env);
    java::Vector keyVector = java::Vector::construct(env);
    if (!keys.empty()) {
        LoadProperties(maker, keyVector, keys, instance, cimClass, true);
    }
    java::Vector otherVector = java::Vector::construct(env);
    LoadProperties(maker, otherVector, otherPropertiesOf(instance, keys), instance, cimClass, false);
    keyVector.CallBooleanMethod("addAll", "(Ljava/util/Collection;)Z", otherVector.m_object);
    cim::CIMInstance javaInstance = cim::CIMInstance::construct(env);
    javaInstance.CallVoidMethod("setClassName", "(Ljava/lang/String;)V",
                                javaString(env, instance.getClassName().getString()).m_object);
    javaInstance.CallVoidMethod("setProperties", "(Ljava/util/Vector;)V", keyVector.m_object);
    throwIfJavaExceptionPending(env);
    env->CallVoidMethod(consumer.m_target, consumer.m_forwardIndicationID, JNI_TRUE, javaInstance.m_object);
}

Pegasus::Boolean WbemIndicationConsumer::acceptsDestination(const Pegasus::String& destinationPath) const
{
    const Pegasus::CString text = destinationPath.getCString();
    const char* path = text;
    const std::size_t length = std::strlen(path);
    const std::size_t expected = m_destinationPath.size();
    if (expected == 0 || length < expected) {
        return false;
    }
    const char* tail = path + (length - expected);
    unsigned char differences = 0;
    for (std::size_t i = 0; i < expected; ++i) {
        differences |= static_cast<unsigned char>(tail[i] ^ m_destinationPath[i]);
    }
    return differences == 0;
}

void WbemIndicationConsumer::consumeIndication(const Pegasus::OperationContext&,
                                               const Pegasus::String& destinationPath,
                                               const Pegasus::CIMInstance& indicationInstance)
{
    try {
        PegasusLockGuard lock;
        if (!lock.locked()) {
            return;
        }
        // A listener that delivers whatever reaches its port (any path) still
        // brings nothing forged to Java.  Traced once a burst, without the path.
        if (!acceptsDestination(destinationPath)) {
            if (m_droppedInBurst++ == 0) {
                debugmsg("consumeIndication: an indication sent to another destination path was dropped\n");
            }
            return;
        }
        if (m_droppedInBurst != 0) {
            debugmsg("consumeIndication: %u indications sent to other destination paths were dropped\n",
                     m_droppedInBurst);
            m_droppedInBurst = 0;
        }
        debugmsg("XXX: consumeIndication Invoked!\n");
        JNIEnv* env = t_listenerAttachment.env(m_jvm);
        if (env == nullptr) {
            return;  // no JVM for this thread: the indication is dropped
        }
        // The thread stays attached: its references go with this frame.
        LocalFrame frame(env, kOperationFrameCapacity);
        if (m_forwardIndicationID == nullptr && m_target != nullptr) {
            IndirectJObj target(env, m_target);
            m_forwardIndicationID =
                target.findMethodID("forwardIndication", "(ZLjavax/wbem/cim/CIMInstance;)V");
        }
        WbemServices* services = getServices(env, nullptr, m_handle);
        if (services != nullptr && m_forwardIndicationID != nullptr) {
            try {
                forwardIndication(env, *services, *this, indicationInstance);
            } catch (const Pegasus::Exception& e) {
                AssignLastError(exceptionText(e).c_str());
            } catch (...) {
                // dropped
            }
        }
        // Nothing may stay pending on a thread about to leave the JVM.
        if (env->ExceptionCheck()) {
            env->ExceptionClear();
        }
    } catch (...) {
        // a consumer never lets an exception into the listener
    }
}

// Bytes of the system's random source in a listener's destination path:
// 128 bits, which nobody guesses by sending requests.
constexpr std::size_t kDestinationSecretBytes = 16;

// "/" and a new secret in hex; empty when the random source fails (a
// listener without a secret is not made).
std::string newDestinationPath()
{
    unsigned char secret[kDestinationSecretBytes];
    std::size_t filled = 0;
    while (filled < sizeof secret) {
        const ssize_t n = getrandom(secret + filled, sizeof secret - filled, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return std::string();
        }
        filled += static_cast<std::size_t>(n);
    }
    static const char kHex[] = "0123456789abcdef";
    std::string path = "/";
    for (unsigned char byte : secret) {
        path += kHex[byte >> 4];
        path += kHex[byte & 0x0f];
    }
    return path;
}

// Gives a connection a listener on the port and a consumer that forwards to
// `target` (for the demo and the tests; no CIMImpl native does this).  False
// when the handle has no connection, the connection has one already, no
// secret could be made or the listener cannot start.
bool attachIndicationListener(JNIEnv* env, jint handle, jobject target, Pegasus::Uint32 port)
{
    JavaVM* jvm = nullptr;
    if (env->GetJavaVM(&jvm) != JNI_OK) {
        return false;
    }
    std::string destinationPath = newDestinationPath();
    if (destinationPath.empty()) {
        return false;
    }
    PegasusLockGuard lock;
    WbemServices* services = lock.locked() ? getServices(env, nullptr, handle) : nullptr;
    if (services == nullptr || services->m_listener != nullptr || services->m_consumer != nullptr) {
        return false;
    }
    std::unique_ptr<Pegasus::CIMListener> listener(new Pegasus::CIMListener(port));
    std::unique_ptr<WbemIndicationConsumer> consumer(
        new WbemIndicationConsumer(jvm, env->NewGlobalRef(target), handle, std::move(destinationPath)));
    try {
        listener->addConsumer(consumer.get());
        listener->start();
    } catch (...) {
        releaseTarget(*consumer);
        return false;
    }
    services->m_listener = listener.release();
    services->m_consumer = consumer.release();
    return true;
}

// ------------------------------------------------------------- method invocation

constexpr jint kRcNoCompletionMethod = 0x10000006;
constexpr const char* kCompletionMethod = "methodCallCompleted";
constexpr const char* kCompletionSignature =
    "(ILjavax/wbem/cim/CIMValue;[Ljavax/wbem/cim/CIMArgument;Ljava/lang/String;)V";

// The Java return value: the converted value's type and value object moved
// into a new CIMValue, an array through setArrayValues.
cim::CIMValue javaReturnValue(JNIEnv* env, const Pegasus::CIMValue& value)
{
    cim::CIMValue result = cim::CIMValue::construct(env);
    cim::CIMValue converted = CIMValueToJavaObject(env, value);
    jobject object = valueObjectOf(env, converted);
    bool isArray = false;
    if (object != nullptr) {
        IndirectJObj objectClass(env, env->GetObjectClass(object));
        isArray =
            java::String(env, objectClass.CallObjectMethod("getName", "()Ljava/lang/String;")).getStringW() ==
            L"java.util.Vector";
        throwIfJavaExceptionPending(env);
    }
    result.CallVoidMethod("setType", "(Ljavax/wbem/cim/CIMDataType;)V",
                          converted.CallObjectMethod("getType", "()Ljavax/wbem/cim/CIMDataType;"));
    if (isArray) {
        result.CallVoidMethod("setArrayValues", "(Ljava/util/Vector;)V", valueObjectOf(env, converted));
    } else {
        result.CallVoidMethod("setValue", "(Ljava/lang/Object;)V", valueObjectOf(env, converted));
    }
    throwIfJavaExceptionPending(env);
    return result;
}

jobjectArray javaOutputArguments(JNIEnv* env, const Pegasus::Array<Pegasus::CIMParamValue>& outputs)
{
    const jsize count = static_cast<jsize>(outputs.size());
    cim::CIMArgument templateArgument = cim::CIMArgument::construct(env);
    throwIfJavaExceptionPending(env);  // no array of a class or element that could not be made
    debugmsg("XXX: invokeMethod(): outputs array size = %d\n", static_cast<int>(count));
    jobjectArray array = env->NewObjectArray(count, templateArgument.m_class, templateArgument.m_object);
    throwIfJavaExceptionPending(env);
    for (jsize i = 0; i < count; ++i) {
        LocalFrame frame(env, kElementFrameCapacity);
        cim::CIMValue value = CIMValueToJavaObject(env, outputs[static_cast<Pegasus::Uint32>(i)].getValue());
        java::String name = javaString(env, outputs[static_cast<Pegasus::Uint32>(i)].getParameterName());
        debugmsg("XXX: invokeMethod: output property \"%s\"\n", name.getStringA().c_str());
        cim::CIMArgument argument = cim::CIMArgument::construct(env, name, value);
        throwIfJavaExceptionPending(env);
        env->SetObjectArrayElement(array, i, argument.m_object);
        throwIfJavaExceptionPending(env);
    }
    return array;
}

Pegasus::Array<Pegasus::CIMParamValue> pegasusInputArguments(JNIEnv* env, jobjectArray arguments)
{
    Pegasus::Array<Pegasus::CIMParamValue> inputs;
    if (arguments == nullptr) {
        return inputs;  // no array: no arguments
    }
    inputs.reserveCapacity(static_cast<Pegasus::Uint32>(env->GetArrayLength(arguments)));
    for (jsize i = 0; i < env->GetArrayLength(arguments); ++i) {
        LocalFrame frame(env, kElementFrameCapacity);
        cim::CIMArgument argument(env, env->GetObjectArrayElement(arguments, i));
        throwIfJavaExceptionPending(env);
        java::String name(env, argument.CallObjectMethod("getName", "()Ljava/lang/String;"));
        throwIfJavaExceptionPending(env);
        cim::CIMValue javaValue(env, argument.CallObjectMethod("getValue", "()Ljavax/wbem/cim/CIMValue;"));
        const std::string narrowName = name.getStringA();
        throwIfJavaExceptionPending(env);
        Pegasus::CIMValue value;
        convertForServer(javaValue, value, [&] { return "invokeMethod: argument " + narrowName; });
        inputs.append(Pegasus::CIMParamValue(Pegasus::String(narrowName.c_str()), value, true));
    }
    return inputs;
}

// Tells the listener the outcome; a failure carries no results.
jint completeMethodCall(JNIEnv* env, jobject listener, jmethodID completed, jint code, jobject returnValue,
                        jobjectArray outputs)
{
    env->CallVoidMethod(listener, completed, code, returnValue, outputs, static_cast<jstring>(nullptr));
    (void)env->ExceptionCheck();  // an exception of the listener's own stays pending for the caller
    return code;
}

jint invokeMethod(JNIEnv* env, WbemServices& services, jobject path, jstring methodName,
                  jobjectArray arguments, jobject listener)
{
    // The path and the name are read first; a failure there is reported to
    // the listener once it is known to have the completion method.
    Pegasus::CIMObjectPath objectPath;
    Pegasus::CIMName name;
    bool prepared = true;
    try {
        std::string pathText;
        objectPath = pegasusPath(env, path, pathText);
        const std::string narrowName = java::String(env, methodName).getStringA();
        throwIfJavaExceptionPending(env);
        name = Pegasus::CIMName(Pegasus::String(narrowName.c_str()));
    } catch (const JavaExceptionPending&) {
        throw;
    } catch (...) {
        prepared = false;
    }

    jmethodID completed = nullptr;
    if (listener != nullptr) {
        IndirectJObj javaListener(env, listener);
        completed = javaListener.findMethodID(kCompletionMethod, kCompletionSignature);
    }
    if (completed == nullptr) {
        env->ExceptionClear();
        return kRcNoCompletionMethod;
    }
    if (!prepared) {
        return completeMethodCall(env, listener, completed, kRcGeneralFailure, nullptr, nullptr);
    }

    // From here on the listener hears of the outcome exactly once.
    Pegasus::Array<Pegasus::CIMParamValue> inputs;
    try {
        inputs = pegasusInputArguments(env, arguments);
    } catch (const JavaExceptionPending&) {
        // The exception of one of the caller's arguments: held while the
        // listener is told (no Java call may be made with it pending), then
        // raised again for the caller.
        jthrowable thrown = env->ExceptionOccurred();
        env->ExceptionClear();
        AssignLastError("invokeMethod: reading an argument threw a Java exception; the method was not run");
        const jint code = completeMethodCall(env, listener, completed, kRcGeneralFailure, nullptr, nullptr);
        if (!env->ExceptionCheck() && thrown != nullptr) {
            env->Throw(thrown);
        }
        return code;
    } catch (const UnsendableValue& e) {
        AssignLastError(e.reason.c_str());
        return completeMethodCall(env, listener, completed, kRcGeneralFailure, nullptr, nullptr);
    } catch (...) {
        return completeMethodCall(env, listener, completed, kRcGeneralFailure, nullptr, nullptr);
    }

    Pegasus::Array<Pegasus::CIMParamValue> outputs;
    Pegasus::CIMValue returned;
    try {
        returned = services.m_client->invokeMethod(*services.m_nameSpace, objectPath, name, inputs, outputs);
    } catch (const Pegasus::CIMException& e) {
        AssignLastError(exceptionText(e).c_str());
        return completeMethodCall(env, listener, completed, ConvertToRC(e), nullptr, nullptr);
    } catch (...) {
        return completeMethodCall(env, listener, completed, kRcGeneralFailure, nullptr, nullptr);
    }

    jobject returnValue = nullptr;
    jobjectArray outputArray = nullptr;
    try {
        returnValue = javaReturnValue(env, returned).m_object;
        outputArray = javaOutputArguments(env, outputs);
    } catch (...) {
        // The method ran; what it gave cannot reach Java (a path the Java
        // parser refuses, no memory): the listener still hears of it.
        env->ExceptionClear();
        AssignLastError(
            "invokeMethod: the method ran, but its results could not be converted to Java objects");
        return completeMethodCall(env, listener, completed, kRcGeneralFailure, nullptr, nullptr);
    }
    return completeMethodCall(env, listener, completed, kRcOk, returnValue, outputArray);
}

// The value of an In or Out qualifier of a parameter: absent or null leaves
// `value` alone and gives false.
bool parameterQualifier(const Pegasus::CIMConstParameter& parameter, const char* name, bool& value)
{
    const Pegasus::Uint32 index = parameter.findQualifier(Pegasus::CIMName(name));
    if (index == PEG_NOT_FOUND) {
        return false;
    }
    const Pegasus::CIMValue& qualifierValue = parameter.getQualifier(index).getValue();
    if (qualifierValue.isNull()) {
        return false;
    }
    Pegasus::Boolean b = false;
    qualifierValue.get(b);  // a qualifier that is no boolean fails the operation
    value = b;
    return true;
}

// Input parameters are listed; one that is only an output is not.
bool isListedParameter(const Pegasus::CIMConstParameter& parameter)
{
    bool input = false;
    bool in = false;
    if (parameterQualifier(parameter, "In", in)) {
        if (!in) {
            return false;
        }
        input = true;
    }
    bool out = false;
    if (parameterQualifier(parameter, "Out", out) && out && !input) {
        return false;
    }
    return true;
}

void loadMethods(JNIEnv* env, cim::CIMClass& javaClass, const Pegasus::CIMClass& cimClass,
                 const std::string& requestedName)
{
    cim::CIMDataTypeClass types = cim::CIMDataTypeClass::construct(env);
    for (Pegasus::Uint32 m = 0; m < cimClass.getMethodCount(); ++m) {
        LocalFrame methodFrame(env, kElementFrameCapacity);
        Pegasus::CIMConstMethod method = cimClass.getMethod(m);
        const std::string methodName = narrow(method.getName().getString());
        if (method.findQualifier(Pegasus::CIMName("Deprecated")) != PEG_NOT_FOUND) {
            debugmsg("XXX: Java_javax_wbem_client_CIMImpl_getClass: method %s on class %s is deprecated\n",
                     methodName.c_str(), requestedName.c_str());
            continue;
        }
        cim::CIMMethod javaMethod =
            cim::CIMMethod::construct(env, java::String::construct(env, methodName.c_str()));
        if (isKnownType(method.getType())) {
            cim::CIMDataType type = javaDataType(env, types, kJavaTypes[method.getType()].scalarField);
            javaMethod.CallVoidMethod("setType", "(Ljavax/wbem/cim/CIMDataType;)V", type.m_object);
        }
        java::Vector parameters = java::Vector::construct(env);
        for (Pegasus::Uint32 p = 0; p < method.getParameterCount(); ++p) {
            LocalFrame parameterFrame(env, kElementFrameCapacity);
            Pegasus::CIMConstParameter parameter = method.getParameter(p);
            if (!isListedParameter(parameter)) {
                continue;
            }
            cim::CIMParameter javaParameter =
                cim::CIMParameter::construct(env, javaString(env, parameter.getName().getString()));
            const Pegasus::CIMType type = parameter.getType();
            if (isKnownType(type)) {
                const JavaTypeRow& row = kJavaTypes[type];
                cim::CIMDataType javaType =
                    javaDataType(env, types, parameter.isArray() ? row.arrayField : row.scalarField);
                javaParameter.CallVoidMethod("setType", "(Ljavax/wbem/cim/CIMDataType;)V", javaType.m_object);
            }
            parameters.CallBooleanMethod("add", "(Ljava/lang/Object;)Z", javaParameter.m_object);
            throwIfJavaExceptionPending(env);
        }
        javaMethod.CallVoidMethod("setParameters", "(Ljava/util/Vector;)V", parameters.m_object);
        javaClass.CallVoidMethod("addMethod", "(Ljavax/wbem/cim/CIMMethod;)V", javaMethod.m_object);
        throwIfJavaExceptionPending(env);
    }
}

jint getClass(JNIEnv* env, WbemServices& services, jobject target, jobject path, bool localOnly,
              bool includeQualifiers, bool includeClassOrigin)
{
    const std::string requestedName = objectNameOf(env, path);
    if (requestedName.empty()) {
        return kRcNoClassName;
    }
    const Pegasus::CIMName className(Pegasus::String(requestedName.c_str()));
    const Pegasus::CIMClass cimClass =
        services.m_client->getClass(*services.m_nameSpace, className, localOnly, includeQualifiers,
                                    includeClassOrigin, Pegasus::CIMPropertyList());
    const NameSet keyNames = keyNamesOf(cimClass);

    cim::CIMClass javaClass(env, target);
    javaClass.CallVoidMethod("setName", "(Ljava/lang/String;)V",
                             java::String::construct(env, requestedName.c_str()).m_object);
    throwIfJavaExceptionPending(env);
    LoadProperties(env, javaClass, keyNames, cimClass, true);
    LoadProperties(env, javaClass, otherNamesOf(cimClass, keyNames), cimClass, false);

    // The methods always come with their qualifiers and inherited ones, so
    // that deprecated methods and output parameters can be told apart.
    const Pegasus::CIMClass withMethods = services.m_client->getClass(*services.m_nameSpace, className, false,
                                                                      true, true, Pegasus::CIMPropertyList());
    loadMethods(env, javaClass, withMethods, requestedName);
    return kRcOk;
}

}  // namespace

// ================================================================= natives

extern "C" {

JNIEXPORT jstring JNICALL Java_javax_wbem_client_CIMImpl_getLastError(JNIEnv* env, jobject)
{
    try {
        // The text is UTF-8 (server messages included), which NewStringUTF's
        // modified UTF-8 would garble beyond the Basic Multilingual Plane.
        const std::string text = LastErrorOfThisThread();
        return static_cast<jstring>(java::String::construct(env, text.c_str()).m_object);
    } catch (...) {
        return nullptr;
    }
}

JNIEXPORT void JNICALL Java_javax_wbem_client_CIMImpl_toggleNativeTrace(JNIEnv*, jobject, jboolean on)
{
    // An entry that cannot be written (no memory for the trace file's path)
    // is dropped; the switch itself still happens.
    const auto trace = [](const char* line) {
        try {
            debugmsg("%s", line);
        } catch (...) {
        }
    };
    trace("toggleNativeTrace called\n");
    if (on) {
        setTraceMode(1);
        trace("CIM Native Tracing Enabled\n");
    } else {
        trace("CIM Native Tracing Disabled\n");
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
        if (t_holdsPegasusLock) {
            AssignLastError(kReentryMessage);
            return kRcGeneralFailure;
        }
        debugmsg("tearDown called\n");
        tearDownConnection(handle);
        debugmsg("Teardown complete\n");
        return kRcOk;
    } catch (...) {
        return kRcOk;
    }
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_enumerateClassNames(JNIEnv* env, jobject self,
                                                                          jint handle, jobject result,
                                                                          jobject path, jboolean deep)
{
    return runOperation(env, self, handle, [&](WbemServices& services) {
        return enumerateClassNames(env, services, result, path, deep != JNI_FALSE);
    });
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_enumerateInstanceNames(JNIEnv* env, jobject self,
                                                                             jint handle, jobject result,
                                                                             jobject path)
{
    return runOperation(env, self, handle, [&](WbemServices& services) {
        return enumerateInstanceNames(env, services, result, path);
    });
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_getInstance(JNIEnv* env, jobject self, jint handle,
                                                                  jobject instance, jobject path)
{
    return runOperation(env, self, handle,
                        [&](WbemServices& services) { return getInstance(env, services, instance, path); });
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_getClass(JNIEnv* env, jobject self, jint handle,
                                                               jobject cimClass, jobject path,
                                                               jboolean localOnly, jboolean includeQualifiers,
                                                               jboolean includeClassOrigin)
{
    return runOperation(env, self, handle, [&](WbemServices& services) {
        return getClass(env, services, cimClass, path, localOnly != JNI_FALSE, includeQualifiers != JNI_FALSE,
                        includeClassOrigin != JNI_FALSE);
    });
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_createInstance(JNIEnv* env, jobject self, jint handle,
                                                                     jobject result, jobject path,
                                                                     jobject instance)
{
    return runOperation(env, self, handle, [&](WbemServices& services) {
        return createInstance(env, services, result, path, instance);
    });
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_deleteInstance(JNIEnv* env, jobject self, jint handle,
                                                                     jobject path)
{
    return runOperation(env, self, handle,
                        [&](WbemServices& services) { return deleteInstance(env, services, path); });
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_getProperty(JNIEnv* env, jobject self, jint handle,
                                                                  jobject value, jobject path,
                                                                  jstring propertyName)
{
    return runOperation(env, self, handle, [&](WbemServices& services) {
        return getProperty(env, services, value, path, propertyName);
    });
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_getProperties(JNIEnv* env, jobject self, jint handle,
                                                                    jobject result, jobject path,
                                                                    jobjectArray propertyNames)
{
    return runOperation(env, self, handle, [&](WbemServices& services) {
        return getProperties(env, services, result, path, propertyNames);
    });
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_setProperty(JNIEnv* env, jobject self, jint handle,
                                                                  jobject path, jstring propertyName,
                                                                  jobject value)
{
    return runOperation(env, self, handle, [&](WbemServices& services) {
        return setProperty(env, services, path, propertyName, value);
    });
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_invokeMethod(JNIEnv* env, jobject self, jint handle,
                                                                   jobject path, jstring methodName,
                                                                   jobjectArray arguments, jobject listener)
{
    return runOperation(env, self, handle, [&](WbemServices& services) {
        return invokeMethod(env, services, path, methodName, arguments, listener);
    });
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_addLifecycleIndicationClass(JNIEnv*, jobject, jint,
                                                                                  jstring)
{
    return 0;
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_addExtrinsicIndicationClass(JNIEnv*, jobject, jint,
                                                                                  jstring)
{
    return 0;
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMImpl_removeIndicationClass(JNIEnv*, jobject, jint, jstring)
{
    return 0;
}

JNIEXPORT jint JNICALL Java_javax_wbem_client_CIMIndicationHook_attachListener(JNIEnv* env, jclass,
                                                                               jint handle, jobject target,
                                                                               jint port)
{
    try {
        if (target == nullptr || port < 0 ||
            !attachIndicationListener(env, handle, target, static_cast<Pegasus::Uint32>(port))) {
            return 0;
        }
        PegasusLockGuard lock;
        WbemServices* services = lock.locked() ? getServices(env, nullptr, handle) : nullptr;
        return services != nullptr && services->m_listener != nullptr
                   ? static_cast<jint>(services->m_listener->getPortNumber())
                   : 0;
    } catch (...) {
        return 0;
    }
}

JNIEXPORT jstring JNICALL Java_javax_wbem_client_CIMIndicationHook_destination(JNIEnv* env, jclass,
                                                                               jint handle)
{
    try {
        std::string url;
        {
            PegasusLockGuard lock;
            WbemServices* services = lock.locked() ? getServices(env, nullptr, handle) : nullptr;
            if (services == nullptr || services->m_listener == nullptr || services->m_consumer == nullptr) {
                return nullptr;
            }
            url = "http://127.0.0.1:" + std::to_string(services->m_listener->getPortNumber()) +
                  services->m_consumer->m_destinationPath;
        }
        return env->NewStringUTF(url.c_str());  // ASCII only
    } catch (...) {
        return nullptr;
    }
}

// Every class the bridge uses is resolved here, where FindClass searches the
// loader of the class that loads the library: a listener thread's FindClass
// would search only the system class loader, and miss the classes, or find
// another loader's copies of them.  A class that cannot be found fails the
// load with its NoClassDefFoundError.
JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* jvm, void*)
{
    JNIEnv* env = nullptr;
    if (jvm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) != JNI_OK) {
        return JNI_ERR;
    }
    try {
        return resolveKnownClasses(env) ? JNI_VERSION_1_6 : JNI_ERR;
    } catch (...) {
        return JNI_ERR;  // no memory
    }
}

// The library is unloaded with its class loader: every connection is torn
// down (listeners stopped first), then the classes the bridge holds go.
JNIEXPORT void JNICALL JNI_OnUnload(JavaVM* jvm, void*)
{
    try {
        for (int handle : registeredHandles()) {
            tearDownConnection(handle);
        }
        JNIEnv* env = nullptr;
        if (jvm == nullptr || jvm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) != JNI_OK) {
            env = nullptr;
        }
        releaseKnownClasses(env);
    } catch (...) {
        // nothing may leave an unloading library
    }
}

}  // extern "C"
