// Text as UTF-16 code units; UTF-8 at the edges (char* constructors, getCString).
#ifndef Pegasus_String_h
#define Pegasus_String_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/Char16.h>
#include <atomic>
#include <iostream>
#include <memory>
#include <vector>

PEGASUS_NAMESPACE_BEGIN

class String;

// A NUL-terminated UTF-8 copy of a String, owned by this object.
class PEGASUS_COMMON_LINKAGE CString {
public:
    CString();
    CString(const CString& cstr);
    ~CString();
    CString& operator=(const CString& cstr);
    operator const char*() const;

private:
    explicit CString(char* owned);
    char* _rep;
    friend class String;
};

class PEGASUS_COMMON_LINKAGE String {
public:
    static const String EMPTY;

    String();
    String(const String& str);
    String(String&& str) noexcept : _rep(str._rep) { str._rep = nullptr; }
    String(const String& str, Uint32 n);
    String(const Char16* str);
    String(const Char16* str, Uint32 n);
    // UTF-8 text; an invalid byte sequence throws Exception naming its position.
    String(const char* str);
    String(const char* str, Uint32 n);
    ~String();

    String& operator=(const String& str);
    String& operator=(String&& str) noexcept
    {
        swap(str);
        return *this;
    }
    String& assign(const String& str);
    String& assign(const Char16* str);
    String& assign(const Char16* str, Uint32 n);
    String& assign(const char* str);
    String& assign(const char* str, Uint32 n);

    void clear();
    void reserveCapacity(Uint32 capacity);
    Uint32 size() const { return _rep ? _rep->length : 0; }
    // NUL-terminated code units, valid until the String changes.
    const Char16* getChar16Data() const;
    CString getCString() const;

    Char16& operator[](Uint32 index);
    const Char16 operator[](Uint32 index) const;

    String& append(const char c);
    String& append(const Char16& c);
    String& append(const char* str, Uint32 size);
    String& append(const Char16* str, Uint32 n);
    String& append(const String& str);

    void remove(Uint32 index, Uint32 size = PEG_NOT_FOUND);
    String subString(Uint32 index, Uint32 n = PEG_NOT_FOUND) const;

    Uint32 find(Char16 c) const;
    Uint32 find(Uint32 index, Char16 c) const;
    Uint32 find(const String& s) const;
    Uint32 find(const char* s) const;
    Uint32 reverseFind(Char16 c) const;

    // ASCII letters only, as the reference does without ICU.
    void toLower();
    void toUpper();
    void swap(String& str);

    static int compare(const String& s1, const String& s2, Uint32 n);
    static int compare(const String& s1, const String& s2);
    static int compareNoCase(const String& s1, const String& s2);
    static Boolean equal(const String& s1, const String& s2);
    static Boolean equalNoCase(const String& s1, const String& s2);

private:
    // One allocation: this header, then `capacity` code units and a NUL unit
    // after the `length` in use.  Copies share it (names and values are
    // copied far more often than changed); the first change to shared units
    // copies them.  An empty String may have none at all (no allocation).
    struct Rep {
        std::atomic<Uint32> owners;
        Uint32 length;
        Uint32 capacity;
        Char16* units() { return reinterpret_cast<Char16*>(this + 1); }
    };

    void _appendUtf8(const char* str, std::size_t n);
    // The units, made this String's own with room for `capacity` of them
    // (and the NUL after), their text kept.
    Char16* _own(std::size_t capacity);
    Rep* _rep = nullptr;
};

PEGASUS_COMMON_LINKAGE Boolean operator==(const String& str1, const String& str2);
PEGASUS_COMMON_LINKAGE Boolean operator==(const String& str1, const char* str2);
PEGASUS_COMMON_LINKAGE Boolean operator==(const char* str1, const String& str2);
PEGASUS_COMMON_LINKAGE Boolean operator!=(const String& str1, const String& str2);
PEGASUS_COMMON_LINKAGE Boolean operator!=(const String& str1, const char* str2);
PEGASUS_COMMON_LINKAGE Boolean operator!=(const char* str1, const String& str2);
PEGASUS_COMMON_LINKAGE Boolean operator<(const String& str1, const String& str2);
PEGASUS_COMMON_LINKAGE Boolean operator<=(const String& str1, const String& str2);
PEGASUS_COMMON_LINKAGE Boolean operator>(const String& str1, const String& str2);
PEGASUS_COMMON_LINKAGE Boolean operator>=(const String& str1, const String& str2);
PEGASUS_COMMON_LINKAGE String operator+(const String& str1, const String& str2);
PEGASUS_COMMON_LINKAGE PEGASUS_STD(ostream) & operator<<(PEGASUS_STD(ostream) & os, const String& str);

PEGASUS_NAMESPACE_END

#endif
