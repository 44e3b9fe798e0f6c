// A growable array with value semantics.
#ifndef Pegasus_Array_h
#define Pegasus_Array_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/Char16.h>
#include <Pegasus/Common/String.h>
#include <utility>
#include <vector>

PEGASUS_NAMESPACE_BEGIN

// Thrown from every out-of-range index (defined with the exception classes).
[[noreturn]] PEGASUS_COMMON_LINKAGE void ArrayThrowIndexOutOfBoundsException();

template <class PEGASUS_ARRAY_T>
class Array {
public:
    typedef PEGASUS_ARRAY_T ElementType;

    Array() {}
    Array(const Array<PEGASUS_ARRAY_T>& x) : _rep(x._rep) {}
    Array(Array<PEGASUS_ARRAY_T>&& x) noexcept = default;
    Array(Uint32 size) : _rep(size) {}
    Array(Uint32 size, const PEGASUS_ARRAY_T& x) : _rep(size, Slot{x}) {}
    Array(const PEGASUS_ARRAY_T* items, Uint32 size)
    {
        _rep.reserve(size);
        for (Uint32 i = 0; i < size; i++) _rep.push_back(Slot{items[i]});
    }
    ~Array() {}

    Array<PEGASUS_ARRAY_T>& operator=(const Array<PEGASUS_ARRAY_T>& x)
    {
        _rep = x._rep;
        return *this;
    }
    Array<PEGASUS_ARRAY_T>& operator=(Array<PEGASUS_ARRAY_T>&& x) noexcept = default;

    void clear() { _rep.clear(); }
    void reserveCapacity(Uint32 capacity) { _rep.reserve(capacity); }
    void grow(Uint32 size, const PEGASUS_ARRAY_T& x) { _rep.insert(_rep.end(), size, Slot{x}); }
    void swap(Array<PEGASUS_ARRAY_T>& x) { _rep.swap(x._rep); }
    Uint32 size() const { return Uint32(_rep.size()); }
    Uint32 getCapacity() const { return Uint32(_rep.capacity()); }

    PEGASUS_ARRAY_T& operator[](Uint32 index)
    {
        if (index >= _rep.size()) ArrayThrowIndexOutOfBoundsException();
        return _rep[index].value;
    }
    const PEGASUS_ARRAY_T& operator[](Uint32 index) const
    {
        if (index >= _rep.size()) ArrayThrowIndexOutOfBoundsException();
        return _rep[index].value;
    }

    void append(const PEGASUS_ARRAY_T& x) { _rep.push_back(Slot{x}); }
    void append(PEGASUS_ARRAY_T&& x) { _rep.push_back(Slot{std::move(x)}); }
    void append(const PEGASUS_ARRAY_T* x, Uint32 size)
    {
        for (Uint32 i = 0; i < size; i++) _rep.push_back(Slot{x[i]});
    }
    void appendArray(const Array<PEGASUS_ARRAY_T>& x)
    {
        _rep.insert(_rep.end(), x._rep.begin(), x._rep.end());
    }
    void prepend(const PEGASUS_ARRAY_T& x) { insert(0, x); }
    void insert(Uint32 index, const PEGASUS_ARRAY_T& x)
    {
        if (index > _rep.size()) ArrayThrowIndexOutOfBoundsException();
        _rep.insert(_rep.begin() + index, Slot{x});
    }
    void remove(Uint32 index) { remove(index, 1); }
    void remove(Uint32 index, Uint32 size)
    {
        if (index > _rep.size() || size > _rep.size() - index) ArrayThrowIndexOutOfBoundsException();
        _rep.erase(_rep.begin() + index, _rep.begin() + index + size);
    }

private:
    // A wrapper keeps Array<Boolean> an array of real bools (no vector<bool> proxy).
    struct Slot {
        PEGASUS_ARRAY_T value;
    };
    std::vector<Slot> _rep;
};

template <class T>
inline Boolean operator==(const Array<T>& x, const Array<T>& y)
{
    if (x.size() != y.size()) return false;
    for (Uint32 i = 0; i < x.size(); i++)
        if (!(x[i] == y[i])) return false;
    return true;
}

PEGASUS_NAMESPACE_END

#endif
