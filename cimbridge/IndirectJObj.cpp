#include "IndirectJObj.h"

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

// Every JNI call that can raise is followed by an exception query, so the JVM
// knows the bridge looked and the caller may make any JNI call next.  The
// answer is deliberately not acted upon: a Java exception stays pending for
// the Java caller, as the bridge's callers expect.
inline void queryException(JNIEnv* env)
{
    (void)env->ExceptionCheck();
}

// With a Java exception pending JNI allows only a few calls (queries, releases,
// frames); everything else is skipped and the exception left for the caller.
inline bool exceptionPending(JNIEnv* env)
{
    return env->ExceptionCheck() == JNI_TRUE;
}

// Enough for every method and static field the bridge uses on one class.
constexpr std::size_t kMaxSharedMembers = 48;

template <class ID>
struct SharedMember {
    std::string name;
    std::string signature;
    ID id{};
    // The texts of the last lookup that found the member.  Call sites name
    // methods with literals, so the member a lookup wants is usually the one
    // whose texts sit at the same addresses: it is compared first, and only
    // with the others when its texts differ.
    std::atomic<const char*> nameSeen{nullptr};
    std::atomic<const char*> signatureSeen{nullptr};

    bool names(const char* otherName, const char* otherSignature) const
    {
        return std::strcmp(name.c_str(), otherName) == 0 &&
               std::strcmp(signature.c_str(), otherSignature) == 0;
    }
};

// An append-only table: readers search the published entries without a lock,
// writers take the lock.  A full table leaves further members to the
// per-wrapper caches.
template <class ID>
class SharedTable {
public:
    const ID* find(const char* name, const char* signature)
    {
        const std::size_t count = m_count.load(std::memory_order_acquire);
        for (std::size_t i = 0; i < count; ++i) {
            SharedMember<ID>& m = m_members[i];
            if (m.nameSeen.load(std::memory_order_relaxed) == name &&
                m.signatureSeen.load(std::memory_order_relaxed) == signature) {
                if (m.names(name, signature)) return &m.id;
                break;
            }
        }
        for (std::size_t i = 0; i < count; ++i) {
            SharedMember<ID>& m = m_members[i];
            if (m.names(name, signature)) {
                m.nameSeen.store(name, std::memory_order_relaxed);
                m.signatureSeen.store(signature, std::memory_order_relaxed);
                return &m.id;
            }
        }
        return nullptr;
    }
    void add(std::mutex& lock, const char* name, const char* signature, ID id)
    {
        std::lock_guard<std::mutex> guard(lock);
        if (find(name, signature) != nullptr) return;
        const std::size_t count = m_count.load(std::memory_order_relaxed);
        if (count == kMaxSharedMembers) return;
        SharedMember<ID>& m = m_members[count];
        m.name = name;
        m.signature = signature;
        m.id = id;
        m_count.store(count + 1, std::memory_order_release);
    }
    void clear()
    {
        m_count.store(0, std::memory_order_release);
        for (SharedMember<ID>& m : m_members) {
            m.name.clear();
            m.signature.clear();
            m.id = ID{};
            m.nameSeen.store(nullptr, std::memory_order_relaxed);
            m.signatureSeen.store(nullptr, std::memory_order_relaxed);
        }
    }

private:
    std::array<SharedMember<ID>, kMaxSharedMembers> m_members{};
    std::atomic<std::size_t> m_count{0};
};

}  // namespace

struct SharedMembers {
    std::atomic<jclass> global{nullptr};
    SharedTable<jmethodID> methods;
    SharedTable<jfieldID> staticFields;
};

namespace {

constexpr std::size_t kKnownClassCount = static_cast<std::size_t>(KnownClass::Count);

constexpr const char* kKnownClassNames[kKnownClassCount] = {
    "java/lang/String",
    "java/util/Vector",
    "java/util/Collection",
    "java/lang/Number",
    "java/lang/Boolean",
    "java/lang/Character",
    "java/lang/Byte",
    "java/lang/Short",
    "java/lang/Integer",
    "java/lang/Long",
    "java/lang/Float",
    "java/lang/Double",
    "javax/wbem/cim/UnsignedInt8",
    "javax/wbem/cim/UnsignedInt16",
    "javax/wbem/cim/UnsignedInt32",
    "javax/wbem/cim/UnsignedInt64",
    "javax/wbem/cim/CIMDataType",
    "javax/wbem/cim/CIMValue",
    "javax/wbem/cim/CIMObjectPath",
    "javax/wbem/cim/CIMProperty",
    "javax/wbem/cim/CIMInstance",
    "javax/wbem/cim/CIMMethod",
    "javax/wbem/cim/CIMParameter",
    "javax/wbem/cim/CIMArgument",
    "javax/wbem/cim/CIMDateTime",
    "java/math/BigInteger",
    "java/math/BigDecimal",
    "java/lang/NoSuchFieldError",
    "java/lang/Object",
};

// Guards the lookups of known classes and the writers of their member tables.
std::mutex g_knownClassLock;
// Never destroyed: a listener thread may still use it while the process exits.
std::array<SharedMembers, kKnownClassCount>& g_knownClasses =
    *new std::array<SharedMembers, kKnownClassCount>();

// The members of a known class with its global reference; null (the Java
// error pending) when the class cannot be found or an exception is pending.
SharedMembers* knownMembers(JNIEnv* env, KnownClass known)
{
    SharedMembers& members = g_knownClasses[static_cast<std::size_t>(known)];
    if (members.global.load(std::memory_order_acquire) != nullptr) {
        return &members;
    }
    if (exceptionPending(env)) {
        return nullptr;
    }
    jclass local = env->FindClass(kKnownClassNames[static_cast<std::size_t>(known)]);
    queryException(env);
    if (local == nullptr) {
        return nullptr;
    }
    jclass global = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    if (global == nullptr) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(g_knownClassLock);
    if (members.global.load(std::memory_order_relaxed) != nullptr) {
        env->DeleteGlobalRef(global);  // another thread was first
    } else {
        members.global.store(global, std::memory_order_release);
    }
    return &members;
}

}  // namespace

bool resolveKnownClasses(JNIEnv* env)
{
    for (std::size_t i = 0; i < kKnownClassCount; ++i) {
        if (knownMembers(env, static_cast<KnownClass>(i)) == nullptr) {
            return false;
        }
    }
    return true;
}

void releaseKnownClasses(JNIEnv* env)
{
    std::lock_guard<std::mutex> guard(g_knownClassLock);
    for (SharedMembers& members : g_knownClasses) {
        jclass global = members.global.exchange(nullptr);
        if (global != nullptr && env != nullptr) {
            env->DeleteGlobalRef(global);
        }
        members.methods.clear();
        members.staticFields.clear();
    }
}

bool isInstanceOf(JNIEnv* env, jobject object, KnownClass known)
{
    if (object == nullptr || exceptionPending(env)) {
        return false;
    }
    SharedMembers* members = knownMembers(env, known);
    return members != nullptr &&
           env->IsInstanceOf(object, members->global.load(std::memory_order_acquire)) == JNI_TRUE;
}

std::string knownClassName(KnownClass known)
{
    std::string name = kKnownClassNames[static_cast<std::size_t>(known)];
    for (char& c : name) {
        if (c == '/') c = '.';
    }
    return name;
}

std::string javaClassName(JNIEnv* env, jobject object)
{
    if (object == nullptr) {
        return "null";
    }
    if (exceptionPending(env)) {
        return std::string();
    }
    jclass cls = env->GetObjectClass(object);
    IndirectJObj classObject(env, cls);
    std::string name =
        java::String(env, classObject.CallObjectMethod("getName", "()Ljava/lang/String;")).getStringA();
    return name;
}

LocalFrame::LocalFrame(JNIEnv* env, jint capacity) : m_env(env), m_pushed(env->PushLocalFrame(capacity) == 0)
{}

LocalFrame::~LocalFrame()
{
    if (m_pushed) {
        m_env->PopLocalFrame(nullptr);
    }
}

jobject LocalFrame::pop(jobject result)
{
    if (!m_pushed) {
        return result;
    }
    m_pushed = false;
    return m_env->PopLocalFrame(result);
}

// ---------------------------------------------------------------- IndirectJClass

IndirectJClass::IndirectJClass(JNIEnv* env, jclass cls) : m_class(cls), m_env(env) {}

IndirectJClass::IndirectJClass(JNIEnv* env, KnownClass known) : m_class(nullptr), m_env(env)
{
    m_shared = knownMembers(env, known);
    if (m_shared != nullptr) {
        m_class = m_shared->global.load(std::memory_order_acquire);
    }
}

IndirectJClass::~IndirectJClass()
{
    m_class = nullptr;
    m_methodIDs.clear();
    m_staticFieldIDs.clear();
}

namespace {

template <class ID>
const ID* findMember(const std::vector<IndirectJClass::Member<ID>>& members, const char* name,
                     const char* signature)
{
    for (const auto& m : members) {
        if (std::strcmp(m.name.c_str(), name) == 0 && std::strcmp(m.signature.c_str(), signature) == 0) {
            return &m.id;
        }
    }
    return nullptr;
}

}  // namespace

jmethodID IndirectJClass::findMethodID(const char* name, const char* signature)
{
    if (m_shared != nullptr) {
        if (const jmethodID* shared = m_shared->methods.find(name, signature)) {
            return *shared;
        }
    }
    if (const jmethodID* known = findMember(m_methodIDs, name, signature)) {
        return *known;
    }
    if (m_class != nullptr && exceptionPending(m_env)) {
        return nullptr;  // not remembered: the method may well exist
    }
    jmethodID id = nullptr;
    if (m_class != nullptr) {
        id = m_env->GetMethodID(m_class, name, signature);
        queryException(m_env);
    }
    if (id != nullptr && m_shared != nullptr) {
        m_shared->methods.add(g_knownClassLock, name, signature, id);
        return id;
    }
    // A failed lookup is remembered too: asking again raises nothing new.
    m_methodIDs.push_back(Member<jmethodID>{name, signature, id});
    return id;
}

jmethodID IndirectJClass::findMethodID(const std::string& name, const std::string& signature)
{
    return findMethodID(name.c_str(), signature.c_str());
}

jfieldID IndirectJClass::findStaticFieldID(std::string name, std::string signature)
{
    return staticFieldID(name.c_str(), signature.c_str());
}

jfieldID IndirectJClass::staticFieldID(const char* name, const char* signature)
{
    if (m_shared != nullptr) {
        if (const jfieldID* shared = m_shared->staticFields.find(name, signature)) {
            return *shared;
        }
    }
    if (const jfieldID* known = findMember(m_staticFieldIDs, name, signature)) {
        return *known;
    }
    if (m_class != nullptr && exceptionPending(m_env)) {
        return nullptr;
    }
    jfieldID id = nullptr;
    if (m_class != nullptr) {
        id = m_env->GetStaticFieldID(m_class, name, signature);
        queryException(m_env);
    }
    if (id != nullptr && m_shared != nullptr) {
        m_shared->staticFields.add(g_knownClassLock, name, signature, id);
        return id;
    }
    m_staticFieldIDs.push_back(Member<jfieldID>{name, signature, id});
    return id;
}

jint IndirectJClass::GetStaticIntField(const char* name, const char* signature)
{
    jfieldID id = staticFieldID(name, signature);
    if (id == nullptr || exceptionPending(m_env)) {
        return kNoTypeNumber;
    }
    return m_env->GetStaticIntField(m_class, id);
}

// ---------------------------------------------------------------- IndirectJObj

IndirectJObj::IndirectJObj(JNIEnv* env, jobject object)
    : IndirectJClass(env,
                     object != nullptr && !exceptionPending(env) ? env->GetObjectClass(object) : nullptr),
      m_object(object)
{}

IndirectJObj::IndirectJObj(JNIEnv* env, jobject object, KnownClass expected)
    : IndirectJClass(env, static_cast<jclass>(nullptr)), m_object(object)
{
    if (object == nullptr || exceptionPending(env)) {
        return;
    }
    SharedMembers* members = knownMembers(env, expected);
    jclass known = members != nullptr ? members->global.load(std::memory_order_acquire) : nullptr;
    if (known != nullptr && env->IsInstanceOf(object, known) == JNI_TRUE) {
        m_class = known;
        m_shared = members;
    } else if (!exceptionPending(env)) {
        m_class = env->GetObjectClass(object);
    }
}

IndirectJObj::IndirectJObj(const IndirectJClass& cls, jobject object) : IndirectJClass(cls), m_object(object)
{}

IndirectJObj::~IndirectJObj()
{
    m_object = nullptr;
}

jmethodID IndirectJObj::callable(const char* name, const char* signature)
{
    if (m_object == nullptr || exceptionPending(m_env)) {
        return nullptr;
    }
    return findMethodID(name, signature);
}

#define ORV_CALL_METHOD(Type, JniName, ZeroResult)                           \
    Type IndirectJObj::JniName(const char* name, const char* signature, ...) \
    {                                                                        \
        jmethodID id = callable(name, signature);                            \
        if (id == nullptr) {                                                 \
            return ZeroResult;                                               \
        }                                                                    \
        va_list args;                                                        \
        va_start(args, signature);                                           \
        Type result = m_env->JniName##V(m_object, id, args);                 \
        va_end(args);                                                        \
        queryException(m_env);                                               \
        return result;                                                       \
    }

ORV_CALL_METHOD(jobject, CallObjectMethod, nullptr)
ORV_CALL_METHOD(jboolean, CallBooleanMethod, JNI_FALSE)
ORV_CALL_METHOD(jbyte, CallByteMethod, 0)
ORV_CALL_METHOD(jchar, CallCharMethod, 0)
ORV_CALL_METHOD(jshort, CallShortMethod, 0)
ORV_CALL_METHOD(jint, CallIntMethod, 0)
ORV_CALL_METHOD(jlong, CallLongMethod, 0)
ORV_CALL_METHOD(jfloat, CallFloatMethod, 0.0f)
ORV_CALL_METHOD(jdouble, CallDoubleMethod, 0.0)

#undef ORV_CALL_METHOD

void IndirectJObj::CallVoidMethod(const char* name, const char* signature, ...)
{
    jmethodID id = callable(name, signature);
    if (id == nullptr) {
        return;
    }
    va_list args;
    va_start(args, signature);
    m_env->CallVoidMethodV(m_object, id, args);
    va_end(args);
    queryException(m_env);
}

// ---------------------------------------------------------------- factories

namespace {

// Creates an object with the constructor of the given signature and returns a
// proxy that carries the class wrapper's caches.  A missing class or
// constructor, or an exception already pending, gives a proxy over null;
// nothing null reaches JNI.
template <class Proxy, class... Args>
Proxy newObject(JNIEnv* env, KnownClass known, const char* signature, Args... args)
{
    IndirectJClass cls(env, known);
    jmethodID ctor = cls.findMethodID("<init>", signature);
    jobject object = nullptr;
    if (ctor != nullptr && !exceptionPending(env)) {
        object = env->NewObject(cls.m_class, ctor, args...);
        queryException(env);
    }
    return Proxy(cls, object);
}

// A new byte[] holding the bytes; null (with the Java error pending) when it
// cannot be made.
jbyteArray newByteArray(JNIEnv* env, const jbyte* bytes, jsize length)
{
    if (exceptionPending(env)) {
        return nullptr;
    }
    jbyteArray array = env->NewByteArray(length);
    queryException(env);
    if (array != nullptr && length > 0) {
        env->SetByteArrayRegion(array, 0, length, bytes);
        queryException(env);
    }
    return array;
}

// Releases the characters pinned by GetStringUTFChars on every way out.
class StringUTFCharsPin {
public:
    StringUTFCharsPin(JNIEnv* env, jstring string)
        : m_env(env), m_string(string), m_chars(env->GetStringUTFChars(string, nullptr))
    {}
    ~StringUTFCharsPin()
    {
        if (m_chars != nullptr) {
            m_env->ReleaseStringUTFChars(m_string, m_chars);
        }
    }
    StringUTFCharsPin(const StringUTFCharsPin&) = delete;
    StringUTFCharsPin& operator=(const StringUTFCharsPin&) = delete;
    const char* get() const { return m_chars; }

private:
    JNIEnv* m_env;
    jstring m_string;
    const char* m_chars;
};

// Releases the characters pinned by GetStringChars on every way out.
class StringCharsPin {
public:
    StringCharsPin(JNIEnv* env, jstring string)
        : m_env(env), m_string(string), m_chars(env->GetStringChars(string, nullptr))
    {}
    ~StringCharsPin()
    {
        if (m_chars != nullptr) {
            m_env->ReleaseStringChars(m_string, m_chars);
        }
    }
    StringCharsPin(const StringCharsPin&) = delete;
    StringCharsPin& operator=(const StringCharsPin&) = delete;
    const jchar* get() const { return m_chars; }

private:
    JNIEnv* m_env;
    jstring m_string;
    const jchar* m_chars;
};

constexpr const char* kTextCharset = "UTF-8";

bool isAscii(const char* text, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80) {
            return false;
        }
    }
    return true;
}

// JNI hands out modified UTF-8, where a character beyond the Basic
// Multilingual Plane is two 3-byte halves of a surrogate pair; the client
// library's parser reads standard UTF-8 and refuses those halves.  A pair is
// rejoined into its 4-byte sequence; everything else is copied unchanged.
std::string standardUtf8(const char* modified)
{
    const auto* in = reinterpret_cast<const unsigned char*>(modified);
    std::string out;
    out.reserve(std::strlen(modified));
    constexpr std::size_t kHalfLength = 3;
    auto highHalf = [](const unsigned char* p) {
        return p[0] == 0xED && (p[1] & 0xF0) == 0xA0 && (p[2] & 0xC0) == 0x80;
    };
    auto lowHalf = [](const unsigned char* p) {
        return p[0] == 0xED && (p[1] & 0xF0) == 0xB0 && (p[2] & 0xC0) == 0x80;
    };
    while (*in != 0) {
        if (in[0] == 0xED && in[1] != 0 && in[2] != 0 && highHalf(in) && in[3] != 0 && in[4] != 0 &&
            in[5] != 0 && lowHalf(in + kHalfLength)) {
            const std::uint32_t high = 0xD800u | ((in[1] & 0x0Fu) << 6) | (in[2] & 0x3Fu);
            const std::uint32_t low = 0xDC00u | ((in[4] & 0x0Fu) << 6) | (in[5] & 0x3Fu);
            const std::uint32_t code = 0x10000u + ((high - 0xD800u) << 10) + (low - 0xDC00u);
            out.push_back(static_cast<char>(0xF0u | (code >> 18)));
            out.push_back(static_cast<char>(0x80u | ((code >> 12) & 0x3Fu)));
            out.push_back(static_cast<char>(0x80u | ((code >> 6) & 0x3Fu)));
            out.push_back(static_cast<char>(0x80u | (code & 0x3Fu)));
            in += 2 * kHalfLength;
        } else {
            out.push_back(static_cast<char>(*in++));
        }
    }
    return out;
}

}  // namespace

namespace java {

String String::construct(JNIEnv* env, const char* text)
{
    if (text == nullptr) {
        text = "";
    }
    const std::size_t length = std::strlen(text);
    return construct(env, text, length, isAscii(text, length));
}

String String::construct(JNIEnv* env, const char* text, std::size_t length, bool ascii)
{
    IndirectJClass cls(env, KnownClass::String);
    jobject object = nullptr;
    if (cls.m_class == nullptr || exceptionPending(env)) {
        return String(cls, object);
    }
    if (ascii) {
        // Plain ASCII reads the same in modified UTF-8: one JNI call, no byte array.
        object = env->NewStringUTF(text);
        queryException(env);
        return String(cls, object);
    }
    // Decoded as UTF-8 whatever the JVM's default character set: the client
    // library's text is UTF-8, and a JVM started without a UTF-8 locale would
    // otherwise turn every non-ASCII character into a question mark.
    jmethodID ctor = cls.findMethodID("<init>", "([BLjava/lang/String;)V");
    if (ctor != nullptr) {
        jbyteArray bytes =
            newByteArray(env, reinterpret_cast<const jbyte*>(text), static_cast<jsize>(length));
        jstring charset = bytes != nullptr ? env->NewStringUTF(kTextCharset) : nullptr;
        queryException(env);
        if (bytes != nullptr && charset != nullptr) {
            object = env->NewObject(cls.m_class, ctor, bytes, charset);
            queryException(env);
        }
        if (bytes != nullptr) {
            env->DeleteLocalRef(bytes);
        }
        if (charset != nullptr) {
            env->DeleteLocalRef(charset);
        }
    }
    return String(cls, object);
}

std::string String::getStringA()
{
    // With an exception pending the text cannot be had; asking JNI for it then
    // would be a call made with an exception pending.
    if (m_object == nullptr || m_env->ExceptionCheck()) {
        return std::string();
    }
    StringUTFCharsPin chars(m_env, static_cast<jstring>(m_object));
    if (m_env->ExceptionCheck() || chars.get() == nullptr) {
        return std::string();
    }
    return standardUtf8(chars.get());
}

std::wstring String::getStringW()
{
    if (m_object == nullptr || m_env->ExceptionCheck()) {
        return std::wstring();
    }
    jstring string = static_cast<jstring>(m_object);
    jsize length = m_env->GetStringLength(string);
    StringCharsPin chars(m_env, string);
    if (m_env->ExceptionCheck() || chars.get() == nullptr) {
        return std::wstring();
    }
    std::wstring result;
    result.reserve(static_cast<std::size_t>(length));
    for (jsize i = 0; i < length; ++i) {
        result.push_back(static_cast<wchar_t>(chars.get()[i]));  // jchar is unsigned
    }
    return result;
}

Vector Vector::construct(JNIEnv* env)
{
    return newObject<Vector>(env, KnownClass::Vector, "()V");
}

Iterator Collection::iterator()
{
    return Iterator(m_env, CallObjectMethod("iterator", "()Ljava/util/Iterator;"));
}

Boolean Boolean::construct(JNIEnv* env, std::uint8_t value)
{
    return newObject<Boolean>(env, KnownClass::Boolean, "(Z)V", static_cast<jint>(value != 0));
}

Character Character::construct(JNIEnv* env, std::uint16_t value)
{
    return newObject<Character>(env, KnownClass::Character, "(C)V", static_cast<jint>(value));
}

Byte Byte::construct(JNIEnv* env, std::int8_t value)
{
    return newObject<Byte>(env, KnownClass::Byte, "(B)V", static_cast<jint>(value));
}

Short Short::construct(JNIEnv* env, std::int16_t value)
{
    return newObject<Short>(env, KnownClass::Short, "(S)V", static_cast<jint>(value));
}

Integer Integer::construct(JNIEnv* env, std::int32_t value)
{
    return newObject<Integer>(env, KnownClass::Integer, "(I)V", static_cast<jint>(value));
}

Long Long::construct(JNIEnv* env, std::int64_t value)
{
    return newObject<Long>(env, KnownClass::Long, "(J)V", static_cast<jlong>(value));
}

Float Float::construct(JNIEnv* env, float value)
{
    return newObject<Float>(env, KnownClass::Float, "(F)V", static_cast<jdouble>(value));
}

Double Double::construct(JNIEnv* env, double value)
{
    return newObject<Double>(env, KnownClass::Double, "(D)V", static_cast<jdouble>(value));
}

}  // namespace java

namespace cim {

UnsignedInt8 UnsignedInt8::construct(JNIEnv* env, std::uint8_t value)
{
    // Widened without sign: 255 stays 255 in the Java short.
    return newObject<UnsignedInt8>(env, KnownClass::UnsignedInt8, "(S)V", static_cast<jint>(value));
}

UnsignedInt16 UnsignedInt16::construct(JNIEnv* env, std::uint16_t value)
{
    return newObject<UnsignedInt16>(env, KnownClass::UnsignedInt16, "(I)V", static_cast<jint>(value));
}

UnsignedInt32 UnsignedInt32::construct(JNIEnv* env, std::uint32_t value)
{
    return newObject<UnsignedInt32>(env, KnownClass::UnsignedInt32, "(J)V", static_cast<jlong>(value));
}

UnsignedInt64 UnsignedInt64::construct(JNIEnv* env, std::uint64_t value)
{
    constexpr int kBytes = 8;
    jbyte bigEndian[kBytes];
    for (int i = 0; i < kBytes; ++i) {
        bigEndian[i] = static_cast<jbyte>(static_cast<std::uint8_t>(value >> (8 * (kBytes - 1 - i))));
    }
    IndirectJClass cls(env, KnownClass::UnsignedInt64);
    jmethodID ctor = cls.findMethodID("<init>", "([B)V");
    jobject object = nullptr;
    if (ctor != nullptr) {
        jbyteArray bytes = newByteArray(env, bigEndian, kBytes);
        if (bytes != nullptr) {
            object = env->NewObject(cls.m_class, ctor, bytes);
            queryException(env);
            env->DeleteLocalRef(bytes);
        }
    }
    return UnsignedInt64(cls, object);
}

CIMDataTypeClass CIMDataTypeClass::construct(JNIEnv* env)
{
    IndirectJClass cls(env, KnownClass::CIMDataType);
    return CIMDataTypeClass(cls, nullptr);
}

CIMDataType CIMDataType::construct(JNIEnv* env, jint typeNumber)
{
    return newObject<CIMDataType>(env, KnownClass::CIMDataType, "(I)V", typeNumber);
}

CIMValue CIMValue::construct(JNIEnv* env)
{
    jobject none = nullptr;
    return newObject<CIMValue>(env, KnownClass::CIMValue, "(Ljava/lang/Object;)V", none);
}

CIMValue CIMValue::construct(JNIEnv* env, jobject value, const CIMDataType& type)
{
    return newObject<CIMValue>(env, KnownClass::CIMValue, "(Ljava/lang/Object;Ljavax/wbem/cim/CIMDataType;)V",
                               value, type.m_object);
}

CIMValue CIMValue::construct(JNIEnv* env, const java::Vector& values, const CIMDataType& type)
{
    return newObject<CIMValue>(env, KnownClass::CIMValue, "(Ljava/util/Vector;Ljavax/wbem/cim/CIMDataType;)V",
                               values.m_object, type.m_object);
}

java::String CIMValue::getValueAsString()
{
    IndirectJObj value(m_env, CallObjectMethod("getValue", "()Ljava/lang/Object;"), KnownClass::Object);
    return java::String(m_env, value.CallObjectMethod("toString", "()Ljava/lang/String;"));
}

CIMObjectPath CIMObjectPath::construct(JNIEnv* env, const java::String& path)
{
    return newObject<CIMObjectPath>(env, KnownClass::CIMObjectPath, "(Ljava/lang/String;)V", path.m_object);
}

CIMObjectPath CIMObjectPath::construct(JNIEnv* env, const char* path)
{
    return construct(env, java::String::construct(env, path));
}

CIMProperty CIMProperty::construct(JNIEnv* env, const java::String& name)
{
    return newObject<CIMProperty>(env, KnownClass::CIMProperty, "(Ljava/lang/String;)V", name.m_object);
}

CIMInstance CIMInstance::construct(JNIEnv* env)
{
    return newObject<CIMInstance>(env, KnownClass::CIMInstance, "()V");
}

CIMMethod CIMMethod::construct(JNIEnv* env, const java::String& name)
{
    return newObject<CIMMethod>(env, KnownClass::CIMMethod, "(Ljava/lang/String;)V", name.m_object);
}

CIMParameter CIMParameter::construct(JNIEnv* env, const java::String& name)
{
    return newObject<CIMParameter>(env, KnownClass::CIMParameter, "(Ljava/lang/String;)V", name.m_object);
}

CIMArgument CIMArgument::construct(JNIEnv* env)
{
    return newObject<CIMArgument>(env, KnownClass::CIMArgument, "()V");
}

CIMArgument CIMArgument::construct(JNIEnv* env, const java::String& name, const CIMValue& value)
{
    return newObject<CIMArgument>(env, KnownClass::CIMArgument,
                                  "(Ljava/lang/String;Ljavax/wbem/cim/CIMValue;)V", name.m_object,
                                  value.m_object);
}

CIMDateTime CIMDateTime::construct(JNIEnv* env, const java::String& text)
{
    return newObject<CIMDateTime>(env, KnownClass::CIMDateTime, "(Ljava/lang/String;)V", text.m_object);
}

}  // namespace cim
