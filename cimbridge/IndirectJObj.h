// Wrappers of Java classes and objects that look methods and static fields up
// by name and JNI signature, with a per-wrapper cache, and the proxies of the
// java.lang / java.util classes and the javax.wbem.cim classes built on them.
//
// Wrappers live on the stack of one native call and own no JNI reference: the
// local references they hold are freed by the JVM when the native returns (or
// the local frame they were made in is popped).  The classes the proxies stand
// for are looked up once per JVM and held as global references, with the
// members looked up on them, until releaseKnownClasses.
// A wrapper over a null class or object never hands that null to JNI: the
// lookups give null, the call family its zero result, and whatever Java error
// made the null stays pending for the caller's Java code to see.  While a Java
// exception is pending no wrapper makes a JNI call that JNI forbids then: the
// calls give their zero results and the exception stays.  A caller that
// must stop when a Java call fails checks after it; one that goes on may
// leave the check to the next wrapper call.
#ifndef ORV_CIMBRIDGE_INDIRECTJOBJ_H
#define ORV_CIMBRIDGE_INDIRECTJOBJ_H

#include <jni.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>
#include <utility>

// What GetStaticIntField gives when the class or the field cannot be found:
// a number no CIMDataType type field has, so type comparisons find no match.
constexpr jint kNoTypeNumber = std::numeric_limits<jint>::min();

// The Java classes the bridge makes objects of or checks values against.
enum class KnownClass {
    String,
    Vector,
    Collection,
    Number,
    Boolean,
    Character,
    Byte,
    Short,
    Integer,
    Long,
    Float,
    Double,
    UnsignedInt8,
    UnsignedInt16,
    UnsignedInt32,
    UnsignedInt64,
    CIMDataType,
    CIMValue,
    CIMObjectPath,
    CIMProperty,
    CIMInstance,
    CIMMethod,
    CIMParameter,
    CIMArgument,
    CIMDateTime,
    BigInteger,
    BigDecimal,
    NoSuchFieldError,
    Object,
    Count
};

struct SharedMembers;  // the members of a known class, shared by every wrapper of it

class IndirectJClass {
public:
    IndirectJClass(JNIEnv* env, jclass cls);
    // A wrapper over a known class (its global reference; null, with the Java
    // error pending, when the class cannot be found).
    IndirectJClass(JNIEnv* env, KnownClass known);
    IndirectJClass(const IndirectJClass&) = default;
    IndirectJClass& operator=(const IndirectJClass&) = default;
    virtual ~IndirectJClass();

    jmethodID findMethodID(const char* name, const char* signature);
    jmethodID findMethodID(const std::string& name, const std::string& signature);
    jfieldID findStaticFieldID(std::string name, std::string signature);
    jint GetStaticIntField(const char* name, const char* signature);

    // An object asks for a handful of members, each many times: a short
    // list searched without allocating beats a map keyed by new strings.
    template <class ID>
    struct Member {
        std::string name;
        std::string signature;
        ID id;
    };

    jclass m_class;
    std::vector<Member<jmethodID>> m_methodIDs;
    std::vector<Member<jfieldID>> m_staticFieldIDs;
    JNIEnv* m_env;
    // For a known class: the process-wide member table, searched before any
    // lookup, so that proxies made one per result element look nothing up.
    SharedMembers* m_shared = nullptr;

private:
    jfieldID staticFieldID(const char* name, const char* signature);
};

// Whether the object is an instance of the known class; false for null, while
// a Java exception is pending, or when the class cannot be found (its error
// then pending).
bool isInstanceOf(JNIEnv* env, jobject object, KnownClass known);

// The Java name of a known class ("java.lang.Number").
std::string knownClassName(KnownClass known);

// The object's class name as Java gives it ("java.lang.Integer"); "null" for null.
std::string javaClassName(JNIEnv* env, jobject object);

// Looks every known class up now, through the class loader FindClass uses on
// this thread (in JNI_OnLoad: the loader of the class that loads the library).
// Threads that are not Java's own, such as a listener's, would search only the
// system class loader, so the library resolves them all here.  False, with the
// Java error pending, when one cannot be found.
bool resolveKnownClasses(JNIEnv* env);

// Deletes the global references of the known classes (the library is being
// unloaded); the next use looks them up again.
void releaseKnownClasses(JNIEnv* env);

// Holds a local frame for the references of one element of a result, so that
// a native keeps a bounded number of them whatever the result's size.
class LocalFrame {
public:
    LocalFrame(JNIEnv* env, jint capacity);
    ~LocalFrame();
    LocalFrame(const LocalFrame&) = delete;
    LocalFrame& operator=(const LocalFrame&) = delete;
    // Pops the frame, keeping `result` as a reference of the enclosing frame.
    jobject pop(jobject result);

private:
    JNIEnv* m_env;
    bool m_pushed;
};

class IndirectJObj : public IndirectJClass {
public:
    IndirectJObj(JNIEnv* env, jobject object);
    // A wrapper over an object that ought to be of a known class (one Java
    // handed in, or one a Java call gave): when it is, its methods come from
    // the known class's shared table, and dispatch as the object's own class
    // has them; otherwise they are looked up on the object's own class.
    IndirectJObj(JNIEnv* env, jobject object, KnownClass expected);
    IndirectJObj(const IndirectJClass& cls, jobject object);
    IndirectJObj(const IndirectJObj&) = default;
    IndirectJObj& operator=(const IndirectJObj&) = default;
    ~IndirectJObj() override;

    jobject CallObjectMethod(const char* name, const char* signature, ...);
    jboolean CallBooleanMethod(const char* name, const char* signature, ...);
    jbyte CallByteMethod(const char* name, const char* signature, ...);
    jchar CallCharMethod(const char* name, const char* signature, ...);
    jshort CallShortMethod(const char* name, const char* signature, ...);
    jint CallIntMethod(const char* name, const char* signature, ...);
    jlong CallLongMethod(const char* name, const char* signature, ...);
    jfloat CallFloatMethod(const char* name, const char* signature, ...);
    jdouble CallDoubleMethod(const char* name, const char* signature, ...);
    void CallVoidMethod(const char* name, const char* signature, ...);

    jobject m_object;

private:
    // The method to call, or null when there is no object or no such method.
    jmethodID callable(const char* name, const char* signature);
};

// Declares the wrapping constructors every proxy has.
#define ORV_PROXY_CONSTRUCTORS(Proxy, Base)                                                    \
    Proxy(JNIEnv* env, jobject object) : Base(env, object) {}                                  \
    Proxy(JNIEnv* env, jobject object, ::KnownClass expected) : Base(env, object, expected) {} \
    Proxy(const ::IndirectJClass& cls, jobject object) : Base(cls, object) {}                  \
    ~Proxy() override = default;

namespace java {

class String : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(String, IndirectJObj)
    // A new java.lang.String from UTF-8 bytes.
    static String construct(JNIEnv* env, const char* text);
    // The same from `length` bytes of UTF-8 without a NUL among them
    // (text[length] is NUL), `ascii` when every byte is below 0x80.
    static String construct(JNIEnv* env, const char* text, std::size_t length, bool ascii);
    // The text in UTF-8 (as JNI gives it, with surrogate pairs rejoined into
    // 4-byte sequences); empty when it cannot be had.
    std::string getStringA();
    // The UTF-16 code units, one wide character each; empty when it cannot be had.
    std::wstring getStringW();
};

class Iterator : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(Iterator, IndirectJObj)
};

class Vector : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(Vector, IndirectJObj)
    static Vector construct(JNIEnv* env);
};

class Collection : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(Collection, IndirectJObj)
    Iterator iterator();
};

class Boolean : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(Boolean, IndirectJObj)
    static Boolean construct(JNIEnv* env, std::uint8_t value);
};

class Character : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(Character, IndirectJObj)
    static Character construct(JNIEnv* env, std::uint16_t value);
};

class Number : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(Number, IndirectJObj)
};

class Byte : public Number {
public:
    ORV_PROXY_CONSTRUCTORS(Byte, Number)
    static Byte construct(JNIEnv* env, std::int8_t value);
};

class Short : public Number {
public:
    ORV_PROXY_CONSTRUCTORS(Short, Number)
    static Short construct(JNIEnv* env, std::int16_t value);
};

class Integer : public Number {
public:
    ORV_PROXY_CONSTRUCTORS(Integer, Number)
    static Integer construct(JNIEnv* env, std::int32_t value);
};

class Long : public Number {
public:
    ORV_PROXY_CONSTRUCTORS(Long, Number)
    static Long construct(JNIEnv* env, std::int64_t value);
};

class Float : public Number {
public:
    ORV_PROXY_CONSTRUCTORS(Float, Number)
    static Float construct(JNIEnv* env, float value);
};

class Double : public Number {
public:
    ORV_PROXY_CONSTRUCTORS(Double, Number)
    static Double construct(JNIEnv* env, double value);
};

}  // namespace java

namespace cim {

class UnsignedInt : public java::Number {
public:
    ORV_PROXY_CONSTRUCTORS(UnsignedInt, java::Number)
};

class UnsignedInt8 : public UnsignedInt {
public:
    ORV_PROXY_CONSTRUCTORS(UnsignedInt8, UnsignedInt)
    static UnsignedInt8 construct(JNIEnv* env, std::uint8_t value);
};

class UnsignedInt16 : public UnsignedInt {
public:
    ORV_PROXY_CONSTRUCTORS(UnsignedInt16, UnsignedInt)
    static UnsignedInt16 construct(JNIEnv* env, std::uint16_t value);
};

class UnsignedInt32 : public UnsignedInt {
public:
    ORV_PROXY_CONSTRUCTORS(UnsignedInt32, UnsignedInt)
    static UnsignedInt32 construct(JNIEnv* env, std::uint32_t value);
};

class UnsignedInt64 : public UnsignedInt {
public:
    ORV_PROXY_CONSTRUCTORS(UnsignedInt64, UnsignedInt)
    static UnsignedInt64 construct(JNIEnv* env, std::uint64_t value);
};

// The class javax.wbem.cim.CIMDataType itself, for reading its static type
// fields.  Only the operations callers need are reachable.
class CIMDataTypeClass : protected IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(CIMDataTypeClass, IndirectJObj)
    static CIMDataTypeClass construct(JNIEnv* env);

    using ::IndirectJObj::GetStaticIntField;
    using ::IndirectJObj::m_class;
    using ::IndirectJObj::m_env;
    using ::IndirectJObj::m_object;
};

class CIMDataType : public CIMDataTypeClass {
public:
    ORV_PROXY_CONSTRUCTORS(CIMDataType, CIMDataTypeClass)
    static CIMDataType construct(JNIEnv* env, jint typeNumber);

    using ::IndirectJObj::CallIntMethod;
};

class CIMValue : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(CIMValue, IndirectJObj)
    static CIMValue construct(JNIEnv* env);
    static CIMValue construct(JNIEnv* env, jobject value, const CIMDataType& type);
    static CIMValue construct(JNIEnv* env, const java::Vector& values, const CIMDataType& type);
    // The Java toString of the value object (a proxy over null when there is none).
    java::String getValueAsString();
};

class CIMObjectPath : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(CIMObjectPath, IndirectJObj)
    static CIMObjectPath construct(JNIEnv* env, const java::String& path);
    static CIMObjectPath construct(JNIEnv* env, const char* path);
};

class CIMProperty : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(CIMProperty, IndirectJObj)
    static CIMProperty construct(JNIEnv* env, const java::String& name);
};

class CIMInstance : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(CIMInstance, IndirectJObj)
    static CIMInstance construct(JNIEnv* env);
};

class CIMClass : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(CIMClass, IndirectJObj)
};

class CIMMethod : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(CIMMethod, IndirectJObj)
    static CIMMethod construct(JNIEnv* env, const java::String& name);
};

class CIMParameter : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(CIMParameter, IndirectJObj)
    static CIMParameter construct(JNIEnv* env, const java::String& name);
};

class CIMArgument : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(CIMArgument, IndirectJObj)
    static CIMArgument construct(JNIEnv* env);
    static CIMArgument construct(JNIEnv* env, const java::String& name, const CIMValue& value);
};

class CIMDateTime : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(CIMDateTime, IndirectJObj)
    static CIMDateTime construct(JNIEnv* env, const java::String& text);
};

class CIMNameSpace : public IndirectJObj {
public:
    ORV_PROXY_CONSTRUCTORS(CIMNameSpace, IndirectJObj)
};

}  // namespace cim

#endif  // ORV_CIMBRIDGE_INDIRECTJOBJ_H
