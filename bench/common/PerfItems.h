// The benchmarks' data set: class Perf_Item with a uint32 key Id and 99 more
// properties P01..P99 cycling through ten types, and 10,000 instances, the
// first ten with all 100 values, the others with Id and P01 only.
#ifndef BENCH_COMMON_PERFITEMS_H
#define BENCH_COMMON_PERFITEMS_H

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace perf_items {

constexpr int kInstances = 10000;
constexpr unsigned kProperties = 100;  // the key Id and P01..P99
constexpr int kFullInstances = 10;     // Id 0..9 have every value
const char* const kClass = "Perf_Item";
const char* const kTypeCycle[] = {"string", "uint32",   "sint64", "boolean", "real64",
                                  "uint8",  "datetime", "string", "uint16",  "char16"};

inline std::string valueOf(const std::string& type, unsigned n)
{
    if (type == "string") return "\"value of property " + std::to_string(n) + "\"";
    if (type == "uint32") return std::to_string(4000000000u + n);
    if (type == "sint64") return std::to_string(-9000000000000ll - n);
    if (type == "boolean") return n % 2 ? "true" : "false";
    if (type == "real64") return std::to_string(n) + ".25";
    if (type == "uint8") return std::to_string(100 + n);
    if (type == "datetime") return "\"20261207041311.000000+000\"";
    if (type == "uint16") return std::to_string(60000 + n);
    return "'c'";
}

// Writes the class and its instances as MOF into `dir`; returns the file's path.
inline std::string writeMof(const std::string& dir)
{
    std::vector<std::string> types, names;
    for (unsigned n = 1; n < kProperties; ++n) {
        char name[8];
        std::snprintf(name, sizeof name, "P%02u", n);
        names.push_back(name);
        types.push_back(kTypeCycle[(n - 1) % (sizeof kTypeCycle / sizeof kTypeCycle[0])]);
    }
    const std::string path = dir + "/perf.mof";
    std::ofstream out(path);
    out << "Qualifier Key : boolean = false, Scope(property, reference), Flavor(DisableOverride, "
           "ToSubclass);\n"
        << "class " << kClass << " {\n  [Key] uint32 Id;\n";
    for (size_t i = 0; i < names.size(); ++i) out << "  " << types[i] << " " << names[i] << ";\n";
    out << "};\n";
    for (int id = 0; id < kInstances; ++id) {
        out << "instance of " << kClass << " { Id = " << id << ";";
        const size_t valued = id < kFullInstances ? names.size() : 1;
        for (size_t i = 0; i < valued; ++i)
            out << " " << names[i] << " = " << valueOf(types[i], i + 1) << ";";
        out << " };\n";
    }
    return path;
}

}  // namespace perf_items

#endif
