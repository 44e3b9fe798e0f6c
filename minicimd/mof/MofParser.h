// Recursive-descent parser for MOF: turns files (and what they include) into a
// Compilation.  It checks syntax only; meaning (known qualifiers, superclasses,
// value types) is the loader's business.
#ifndef MINICIMD_MOF_MOFPARSER_H
#define MINICIMD_MOF_MOFPARSER_H

#include "MofAst.h"
#include "MofLexer.h"

#include <string>

namespace minicimd {
namespace mof {

class MofParser {
public:
    // Deeper nesting is almost surely an include cycle the path check missed
    // (links, "./a" vs "a"); real schemas nest two or three levels.
    static constexpr unsigned kMaxIncludeDepth = 16;
    // The largest single DMTF file is well under 1 MiB.
    static constexpr size_t kMaxFileBytes = 16u * 1024 * 1024;
    // Everything one compilation may read, includes together.
    static constexpr size_t kMaxTotalBytes = 256u * 1024 * 1024;

    // Parses `path` and its includes (relative to the including file), appending
    // to `out`.  Declarations before any "#pragma namespace" get `nameSpace`.
    // Throws MofError.
    static void parseFile(const std::string& path, Compilation& out, const std::string& nameSpace = "");

    // Same for text in memory; `name` is used in messages and as the base for
    // includes (relative to its directory).
    static void parseText(const std::string& text, const std::string& name, Compilation& out,
                          const std::string& nameSpace = "");
};

}  // namespace mof
}  // namespace minicimd

#endif
