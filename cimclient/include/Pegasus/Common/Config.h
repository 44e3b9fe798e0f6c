// Build configuration of the Pegasus client API: integer types, namespace macros.
#ifndef Pegasus_Config_h
#define Pegasus_Config_h

// The installed library refuses to compile without a platform macro; so do we, so
// that a build which works here also works against the real one.
#if !defined(PEGASUS_PLATFORM_LINUX_X86_64_GNU) && !defined(PEGASUS_PLATFORM_LINUX_IX86_GNU) && \
    !defined(PEGASUS_PLATFORM_LINUX_X86_64_CLANG) && !defined(PEGASUS_PLATFORM_LINUX_IX86_CLANG)
#error "Unsupported platform: define PEGASUS_PLATFORM_LINUX_X86_64_GNU (or another Linux platform macro)"
#endif

#include <cstddef>

#define PEGASUS_OS_TYPE_UNIX
#define PEGASUS_OS_LINUX
#define PEGASUS_HAVE_NAMESPACES
#define PEGASUS_UINT64 unsigned long long
#define PEGASUS_SINT64 long long
#define PEGASUS_64BIT_CONVERSION_WIDTH "ll"

#define PEGASUS_NAMESPACE_BEGIN namespace Pegasus {
#define PEGASUS_NAMESPACE_END }
#define PEGASUS_NAMESPACE(X) Pegasus::X
#define PEGASUS_STD(X) std::X
#define PEGASUS_USING_STD using namespace std
#define PEGASUS_USING_PEGASUS using namespace Pegasus

#define PEGASUS_EXPORT __attribute__((visibility("default")))
#define PEGASUS_IMPORT /* empty */

PEGASUS_NAMESPACE_BEGIN

typedef bool Boolean;
typedef unsigned char Uint8;
typedef signed char Sint8;
typedef unsigned short Uint16;
typedef signed short Sint16;
typedef unsigned int Uint32;
typedef signed int Sint32;
typedef float Real32;
typedef double Real64;
typedef PEGASUS_UINT64 Uint64;
typedef PEGASUS_SINT64 Sint64;

#define PEG_NOT_FOUND Uint32(-1)

PEGASUS_NAMESPACE_END

#endif
