// Access to the recorded OpenPegasus exchanges in cimxml-samples/ (the
// including target defines ORV_SAMPLES_DIR).
#ifndef ORV_TESTS_SUPPORT_SAMPLE_FILES_H
#define ORV_TESTS_SUPPORT_SAMPLE_FILES_H

#include <dirent.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvtest {

inline std::string samplesDir()
{
    return std::string(ORV_SAMPLES_DIR);
}

inline bool fileExists(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return in.good();
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::string sample(const std::string& name)
{
    return readFile(samplesDir() + "/" + name);
}

// Names of the exchanges that have a file ending in `suffix`, sorted.
inline std::vector<std::string> sampleNames(const std::string& suffix)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(samplesDir().c_str());
    if (d == nullptr) throw std::runtime_error("cannot open " + samplesDir());
    while (dirent* e = ::readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > suffix.size() && n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0) {
            names.push_back(n.substr(0, n.size() - suffix.size()));
        }
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// The trailer lines of a recorded headers.txt: the "Name: value" lines after
// the blank line that ends the header block.
inline std::vector<std::pair<std::string, std::string>> recordedTrailers(const std::string& headersText)
{
    std::vector<std::pair<std::string, std::string>> out;
    std::size_t blank = headersText.find("\r\n\r\n");
    if (blank == std::string::npos) return out;
    std::istringstream in(headersText.substr(blank + 4));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::size_t colon = line.find(':');
        if (line.empty() || colon == std::string::npos) continue;
        std::string value = line.substr(colon + 1);
        while (!value.empty() && value[0] == ' ') value.erase(0, 1);
        out.emplace_back(line.substr(0, colon), value);
    }
    return out;
}

// What a recorded .wire.txt carries, taken apart independently of the
// client: the de-chunked body and the trailer fields.
struct WireParts {
    std::string body;
    std::vector<std::pair<std::string, std::string>> trailers;
};

inline WireParts splitWire(const std::string& wire)
{
    WireParts out;
    std::size_t pos = wire.find("\r\n\r\n");
    if (pos == std::string::npos) throw std::runtime_error("no header end in wire recording");
    pos += 4;
    for (;;) {
        std::size_t eol = wire.find("\r\n", pos);
        if (eol == std::string::npos) throw std::runtime_error("truncated chunk size line");
        std::size_t size = std::stoul(wire.substr(pos, eol - pos), nullptr, 16);
        pos = eol + 2;
        if (size == 0) break;
        out.body += wire.substr(pos, size);
        pos += size + 2;
    }
    out.trailers = recordedTrailers("\r\n\r\n" + wire.substr(pos));
    return out;
}

// Two recordings were overwritten by the repeated exchange that follows them:
// their wire files hold the answer of the "-again" run (a failure in the
// trailer), while their headers and body files hold the first, successful one.
inline bool wireRecordsAnotherExchange(const std::string& name)
{
    return name == "CreateInstance-gamma" || name == "DeleteInstance-gamma";
}

}  // namespace orvtest

#endif
