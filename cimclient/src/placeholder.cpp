// Keeps a library buildable before its sources are listed in src/Client/sources.cmake.
namespace Pegasus { namespace Internal { int placeholder = 0; } }
