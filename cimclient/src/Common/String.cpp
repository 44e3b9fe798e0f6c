// String: UTF-16 code units; UTF-8 in through the char* constructors, out
// through getCString.
#include <Pegasus/Common/String.h>
#include <Pegasus/Common/Exception.h>
#include <algorithm>
#include <cstdio>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>

PEGASUS_NAMESPACE_BEGIN

namespace {
// Written in place of an unpaired surrogate when converting to UTF-8.
const Uint32 kReplacementCharacter = 0xFFFD;

inline Uint16 lowerAscii(Uint16 c)
{
    return (c >= 'A' && c <= 'Z') ? Uint16(c + ('a' - 'A')) : c;
}

inline Uint16 upperAscii(Uint16 c)
{
    return (c >= 'a' && c <= 'z') ? Uint16(c - ('a' - 'A')) : c;
}

[[noreturn]] void throwBadUtf8(std::size_t index, const unsigned char* bytes, std::size_t n)
{
    char hex[3 * 4 + 1] = "";
    std::size_t shown = std::min<std::size_t>(n - index, 4);
    for (std::size_t i = 0; i < shown; i++)
        std::snprintf(hex + 3 * i, 4, i ? " %02X" : "%02X", bytes[index + i]);
    char text[128];
    std::snprintf(text, sizeof text,
                  "The byte sequence starting at index %zu is not valid UTF-8 encoding: %s", index, hex);
    throw Exception(String(text));
}

void checkNull(const void* p)
{
    if (!p) throw Exception(String("null pointer"));
}

std::size_t lengthOf(const Char16* s)
{
    std::size_t n = 0;
    while (Uint16(s[n]) != 0) n++;
    return n;
}
}  // namespace

// ---------------------------------------------------------------------------
// CString

CString::CString() : _rep(nullptr) {}

CString::CString(char* owned) : _rep(owned) {}

CString::CString(const CString& cstr) : _rep(nullptr)
{
    if (cstr._rep) {
        std::size_t n = std::strlen(cstr._rep) + 1;
        _rep = new char[n];
        std::memcpy(_rep, cstr._rep, n);
    }
}

CString::~CString()
{
    delete[] _rep;
}

CString& CString::operator=(const CString& cstr)
{
    if (this != &cstr) {
        CString copy(cstr);
        std::swap(_rep, copy._rep);
    }
    return *this;
}

CString::operator const char*() const
{
    return _rep ? _rep : "";
}

// ---------------------------------------------------------------------------
// String

const String String::EMPTY;

namespace {
// What getChar16Data gives for a String that holds no storage.
const Char16 kNoUnits[1] = {Char16(0)};
// Lengths are 32 bits wide, one unit is kept for the NUL.
constexpr std::size_t kMaxUnits = 0xFFFFFFFEu;

const Char16* unitsOf(const String& s)
{
    return s.getChar16Data();
}
}  // namespace

Char16* String::_own(std::size_t capacity)
{
    const Uint32 length = size();
    capacity = std::max<std::size_t>(capacity, length);
    if (_rep && _rep->owners.load(std::memory_order_acquire) == 1 && _rep->capacity >= capacity) {
        return _rep->units();
    }
    if (capacity > kMaxUnits) throw std::bad_alloc();
    std::size_t room = capacity;
    // Growing its own units, a String doubles them, so that appends one at a time stay linear.
    if (_rep && _rep->owners.load(std::memory_order_relaxed) == 1) {
        room = std::min(kMaxUnits, std::max<std::size_t>(room, std::size_t(_rep->capacity) * 2));
    }
    void* block = ::operator new(sizeof(Rep) + (room + 1) * sizeof(Char16));
    Rep* r = new (block) Rep{{1}, length, Uint32(room)};
    std::uninitialized_value_construct_n(r->units(), room + 1);
    if (_rep) std::copy(_rep->units(), _rep->units() + length, r->units());
    String old;
    old._rep = _rep;  // let go of as `old` goes
    _rep = r;
    return r->units();
}

String::String() {}

String::String(const String& str) : _rep(str._rep)
{
    if (_rep) _rep->owners.fetch_add(1, std::memory_order_relaxed);
}

String::String(const String& str, Uint32 n)
{
    if (n > str.size()) throw IndexOutOfBoundsException();
    append(str.getChar16Data(), n);
}

String::String(const Char16* str)
{
    checkNull(str);
    append(str, Uint32(lengthOf(str)));
}

String::String(const Char16* str, Uint32 n)
{
    checkNull(str);
    append(str, n);
}

// Decoded into a String of its own first: a constructor that throws runs no
// destructor, and bad UTF-8 is found after the units are allocated.
String::String(const char* str)
{
    checkNull(str);
    String decoded;
    decoded._appendUtf8(str, std::strlen(str));
    swap(decoded);
}

String::String(const char* str, Uint32 n)
{
    checkNull(str);
    String decoded;
    decoded._appendUtf8(str, n);
    swap(decoded);
}

String::~String()
{
    if (_rep && _rep->owners.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        _rep->~Rep();
        ::operator delete(_rep);
    }
}

String& String::operator=(const String& str)
{
    if (_rep != str._rep) {
        String copy(str);
        swap(copy);
    }
    return *this;
}

String& String::assign(const String& str)
{
    return *this = str;
}

String& String::assign(const Char16* str)
{
    String tmp(str);
    swap(tmp);
    return *this;
}

String& String::assign(const Char16* str, Uint32 n)
{
    String tmp(str, n);
    swap(tmp);
    return *this;
}

String& String::assign(const char* str)
{
    String tmp(str);
    swap(tmp);
    return *this;
}

String& String::assign(const char* str, Uint32 n)
{
    String tmp(str, n);
    swap(tmp);
    return *this;
}

void String::clear()
{
    // Storage of our own keeps its capacity for reuse; shared storage is let go.
    if (_rep && _rep->owners.load(std::memory_order_acquire) == 1) {
        _rep->length = 0;
        _rep->units()[0] = Char16(0);
    } else {
        String none;
        swap(none);
    }
}

void String::reserveCapacity(Uint32 capacity)
{
    _own(capacity);
}

const Char16* String::getChar16Data() const
{
    return _rep ? _rep->units() : kNoUnits;
}

CString String::getCString() const
{
    const Char16* units = getChar16Data();
    std::string out;
    out.reserve(size());
    const std::size_t n = size();
    for (std::size_t i = 0; i < n; i++) {
        Uint32 c = Uint16(units[i]);
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && Uint16(units[i + 1]) >= 0xDC00 &&
            Uint16(units[i + 1]) <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (Uint16(units[i + 1]) - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacementCharacter;
        }

        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    char* buffer = new char[out.size() + 1];
    std::memcpy(buffer, out.c_str(), out.size() + 1);
    return CString(buffer);
}

Char16& String::operator[](Uint32 index)
{
    if (index >= size()) throw IndexOutOfBoundsException();
    return _own(size())[index];
}

const Char16 String::operator[](Uint32 index) const
{
    if (index >= size()) throw IndexOutOfBoundsException();
    return _rep->units()[index];
}

String& String::append(const char c)
{
    // A lone byte is taken as Latin-1 when it is not ASCII, as the reference does.
    return append(Char16(Uint16(Uint8(c))));
}

String& String::append(const Char16& c)
{
    const Char16 unit = c;  // `c` may be one of our own units, which _own may move
    const Uint32 old = size();
    Char16* units = _own(std::size_t(old) + 1);
    units[old] = unit;
    units[old + 1] = Char16(0);
    _rep->length = old + 1;
    return *this;
}

String& String::append(const char* str, Uint32 n)
{
    checkNull(str);
    _appendUtf8(str, n);
    return *this;
}

String& String::append(const Char16* str, Uint32 n)
{
    if (n == 0) return *this;
    checkNull(str);
    // Our own units (or a share of them) would move under us: copied first.
    const std::less_equal<const Char16*> atOrBefore;
    if (_rep && atOrBefore(_rep->units(), str) && atOrBefore(str, _rep->units() + _rep->capacity)) {
        const String copy(str, n);
        return append(unitsOf(copy), n);
    }
    // Room first: nothing changes unless the whole text fits.
    const Uint32 old = size();
    Char16* units = _own(std::size_t(old) + n);
    std::copy(str, str + n, units + old);
    units[old + n] = Char16(0);
    _rep->length = old + n;
    return *this;
}

String& String::append(const String& str)
{
    if (&str == this) {
        String copy(str);
        return append(copy.getChar16Data(), copy.size());
    }
    return append(str.getChar16Data(), str.size());
}

void String::_appendUtf8(const char* str, std::size_t n)
{
    if (n == 0) return;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(str);
    // Decoded in place past the current text: a byte gives at most one code
    // unit (four bytes give two), so n units are room enough.  A bad sequence
    // cuts the text back to what it was.
    const Uint32 old = size();
    Char16* const units = _own(std::size_t(old) + n);
    Char16* out = units + old;
    auto fail = [&](std::size_t at) {
        units[old] = Char16(0);
        throwBadUtf8(at, s, n);
    };
    std::size_t i = 0;
    while (i < n) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            *out++ = Char16(b);
            i++;
            continue;
        }
        std::size_t len;
        Uint32 c;
        Uint32 min;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2, c = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, c = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, c = b & 0x07, min = 0x10000;
        } else {
            fail(i);
            return;
        }
        if (n - i < len) {
            fail(i);
            return;
        }
        bool continuation = true;
        for (std::size_t k = 1; k < len; k++) {
            if ((s[i + k] & 0xC0) != 0x80) continuation = false;
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, encoded surrogates and values past U+10FFFF are not UTF-8.
        if (!continuation || c < min || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            fail(i);
            return;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            *out++ = Char16(Uint16(0xD800 + (c >> 10)));
            *out++ = Char16(Uint16(0xDC00 + (c & 0x3FF)));
        } else {
            *out++ = Char16(Uint16(c));
        }
        i += len;
    }
    *out = Char16(0);
    _rep->length = Uint32(out - units);
}

void String::remove(Uint32 index, Uint32 n)
{
    if (n == PEG_NOT_FOUND) {
        if (index > size()) throw IndexOutOfBoundsException();
        n = size() - index;
    }
    if (index > size() || n > size() - index) throw IndexOutOfBoundsException();
    if (n == 0) return;
    const Uint32 length = size();
    Char16* units = _own(length);
    std::copy(units + index + n, units + length + 1, units + index);  // the NUL too
    _rep->length = length - n;
}

String String::subString(Uint32 index, Uint32 n) const
{
    if (index >= size()) return String();
    if (n == PEG_NOT_FOUND || n > size() - index) n = size() - index;
    return String(_rep->units() + index, n);
}

Uint32 String::find(Char16 c) const
{
    return find(0, c);
}

Uint32 String::find(Uint32 index, Char16 c) const
{
    const Char16* units = getChar16Data();
    for (Uint32 i = index; i < size(); i++)
        if (units[i] == c) return i;
    return PEG_NOT_FOUND;
}

Uint32 String::find(const String& s) const
{
    const Uint32 n = size(), m = s.size();
    if (m > n) return PEG_NOT_FOUND;
    const Char16* units = getChar16Data();
    const Char16* wanted = s.getChar16Data();
    for (Uint32 i = 0; i + m <= n; i++) {
        Uint32 k = 0;
        while (k < m && units[i + k] == wanted[k]) k++;
        if (k == m) return i;
    }
    return PEG_NOT_FOUND;
}

Uint32 String::find(const char* s) const
{
    return find(String(s));
}

Uint32 String::reverseFind(Char16 c) const
{
    const Char16* units = getChar16Data();
    for (Uint32 i = size(); i > 0; i--)
        if (units[i - 1] == c) return i - 1;
    return PEG_NOT_FOUND;
}

void String::toLower()
{
    if (size() == 0) return;
    Char16* units = _own(size());
    for (Uint32 i = 0; i < size(); i++) units[i] = lowerAscii(units[i]);
}

void String::toUpper()
{
    if (size() == 0) return;
    Char16* units = _own(size());
    for (Uint32 i = 0; i < size(); i++) units[i] = upperAscii(units[i]);
}

void String::swap(String& str)
{
    std::swap(_rep, str._rep);
}

int String::compare(const String& s1, const String& s2, Uint32 n)
{
    const Uint32 n1 = std::min(s1.size(), n), n2 = std::min(s2.size(), n);
    const Char16* u1 = s1.getChar16Data();
    const Char16* u2 = s2.getChar16Data();
    for (Uint32 i = 0; i < n1 && i < n2; i++) {
        const int d = int(Uint16(u1[i])) - int(Uint16(u2[i]));
        if (d) return d;
    }
    return n1 == n2 ? 0 : (n1 < n2 ? -1 : 1);
}

int String::compare(const String& s1, const String& s2)
{
    return compare(s1, s2, PEG_NOT_FOUND);
}

int String::compareNoCase(const String& s1, const String& s2)
{
    const Uint32 n1 = s1.size(), n2 = s2.size();
    const Char16* u1 = s1.getChar16Data();
    const Char16* u2 = s2.getChar16Data();
    for (Uint32 i = 0; i < n1 && i < n2; i++) {
        const int d = int(lowerAscii(u1[i])) - int(lowerAscii(u2[i]));
        if (d) return d;
    }
    return n1 == n2 ? 0 : (n1 < n2 ? -1 : 1);
}

Boolean String::equal(const String& s1, const String& s2)
{
    return s1.size() == s2.size() && compare(s1, s2) == 0;
}

Boolean String::equalNoCase(const String& s1, const String& s2)
{
    return s1.size() == s2.size() && compareNoCase(s1, s2) == 0;
}

Boolean operator==(const String& str1, const String& str2)
{
    return String::equal(str1, str2);
}

Boolean operator==(const String& str1, const char* str2)
{
    return String::equal(str1, String(str2));
}

Boolean operator==(const char* str1, const String& str2)
{
    return String::equal(String(str1), str2);
}

Boolean operator!=(const String& str1, const String& str2)
{
    return !String::equal(str1, str2);
}

Boolean operator!=(const String& str1, const char* str2)
{
    return !(str1 == str2);
}

Boolean operator!=(const char* str1, const String& str2)
{
    return !(str1 == str2);
}

Boolean operator<(const String& str1, const String& str2)
{
    return String::compare(str1, str2) < 0;
}

Boolean operator<=(const String& str1, const String& str2)
{
    return String::compare(str1, str2) <= 0;
}

Boolean operator>(const String& str1, const String& str2)
{
    return String::compare(str1, str2) > 0;
}

Boolean operator>=(const String& str1, const String& str2)
{
    return String::compare(str1, str2) >= 0;
}

String operator+(const String& str1, const String& str2)
{
    String result(str1);
    result.append(str2);
    return result;
}

PEGASUS_STD(ostream) & operator<<(PEGASUS_STD(ostream) & os, const String& str)
{
    return os << static_cast<const char*>(str.getCString());
}

PEGASUS_NAMESPACE_END
