// The MOF compiler on a long inheritance chain: 3,000 classes, each below the
// one before and adding one property, loaded into a repository.  Prints the
// time it took and the memory it added at its peak; never fails on them.
#include "mof/MofParser.h"
#include "repo/Repository.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr unsigned kLevels = 3000;

// The most memory this process has held so far, in bytes.
size_t peakResident()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stoul(line.substr(6)) * 1024;
    return 0;
}

}  // namespace

int main()
{
    std::string mof =
        "Qualifier Key : boolean = false, Scope(property, reference), Flavor(DisableOverride);\n"
        "class Chain_0 { [Key] string Name; };\n";
    for (unsigned i = 1; i < kLevels; ++i)
        mof += "class Chain_" + std::to_string(i) + " : Chain_" + std::to_string(i - 1) + " { string P" +
               std::to_string(i) + "; };\n";
    const size_t before = peakResident();
    const auto t0 = std::chrono::steady_clock::now();
    auto repo = minicimd::Repository::create();
    minicimd::mof::Compilation c;
    minicimd::mof::MofParser::parseText(mof, "chain.mof", c);
    repo->loadCompilation("root/chain", c);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double megabytes = static_cast<double>(peakResident() - before) / (1024.0 * 1024.0);
    std::printf("MOF chain of %u classes: %.2f s, %.0f MiB at the peak\n", kLevels, seconds, megabytes);
    std::printf("FIGURE MOF compile, chain of %u classes|%.2f|s||\n", kLevels, seconds);
    std::printf("FIGURE MOF compile, chain of %u classes: peak memory added|%.0f|MiB||\n", kLevels,
                megabytes);
    return repo->enumerateClassNames("root/chain", "Chain_0", true).size() == kLevels - 1 ? 0 : 1;
}
