// libFuzzer harness: any text through the MOF parser and the loader.  Errors
// must come out as MofError; anything else (a crash, another exception, a
// sanitizer report) is a bug.
#include "mof/MofLexer.h"
#include "mof/MofParser.h"
#include "repo/Repository.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    // Includes would read arbitrary files of the fuzzing machine.
    if (text.find("include") != std::string::npos) return 0;
    minicimd::mof::Compilation c;
    try {
        minicimd::mof::MofParser::parseText(text, "fuzz.mof", c, "root/fuzz");
        auto repo = minicimd::Repository::create();
        repo->loadCompilation("root/fuzz", c);
    } catch (const minicimd::mof::MofError&) {
    }
    return 0;
}
