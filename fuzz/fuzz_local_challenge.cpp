// Fuzz target: the Local authentication challenge as a server on the local
// socket sends it, and the answer header made from a challenge file.
// Input: the WWW-Authenticate value, a newline, then the file's content.
// The answer must be one header line whatever the file holds.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Client/LocalAuth.h"

namespace {

const std::string& challengeDir()
{
    static const std::string dir = [] {
        char tmpl[] = "/tmp/fuzz-local-challenge-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) std::abort();
        return std::string(tmpl);
    }();
    return dir;
}

void checkAnswer(const std::string& answer)
{
    static const std::string kStart = "PegasusAuthorization: Local \"";
    if (answer.compare(0, kStart.size(), kStart) != 0 || answer.back() != '"') std::abort();
    if (answer.find_first_of("\r\n", 0) != std::string::npos) std::abort();
    if (answer.find('"', kStart.size()) != answer.size() - 1) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    std::size_t eol = input.find('\n');
    std::string value = input.substr(0, eol);
    std::string content = eol == std::string::npos ? std::string() : input.substr(eol + 1);
    const std::vector<std::string> allowed = {challengeDir()};

    try {
        std::string path = orv::http::parseLocalChallenge(value);
        if (path.empty() || path.find('"') != std::string::npos) std::abort();
        // Wherever it points, only a file directly in the allowed directory is read.
        try {
            std::string answer = orv::http::localAuthAnswerHeader("fuzzer", path, allowed);
            checkAnswer(answer);
        } catch (const orv::http::LocalAuthError&) {
        }
    } catch (const orv::http::LocalAuthError&) {
    }

    const std::string file = challengeDir() + "/challenge";
    ::unlink(file.c_str());
    int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    if (!written) std::abort();
    try {
        checkAnswer(orv::http::localAuthAnswerHeader("fuzzer", file, allowed));
    } catch (const orv::http::LocalAuthError&) {
    }
    return 0;
}
