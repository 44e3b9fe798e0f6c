#include "launcher_harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace launchertest {

std::unique_ptr<ScratchDir> ScratchDir::create(const std::string& tag)
{
    const char* tmp = std::getenv("TMPDIR");
    fs::path base = (tmp != nullptr && *tmp != '\0') ? fs::path(tmp) : fs::path("/tmp");
    std::string pattern = (base / ("orv-launcher-" + tag + "-XXXXXX")).string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp " << pattern << ": " << std::strerror(errno);
        return nullptr;
    }
    return std::unique_ptr<ScratchDir>(new ScratchDir(fs::path(buffer.data())));
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string ExitStatus::describe() const
{
    return exited ? "exit status " + std::to_string(code) : "killed by signal " + std::to_string(code);
}

std::unique_ptr<LauncherProcess> LauncherProcess::start(const fs::path& program, const LaunchRequest& request)
{
    // Everything the child needs is prepared before fork: between fork and exec it only
    // makes async-signal-safe calls.
    std::vector<std::string> argvStrings;
    argvStrings.push_back(program.string());
    argvStrings.insert(argvStrings.end(), request.arguments.begin(), request.arguments.end());
    std::vector<char*> argv;
    for (auto& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = request.environment;
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);
    const std::string cwd = request.workingDirectory.string();
    const std::string out = request.stdoutFile.string();
    const std::string err = request.stderrFile.string();
    const std::string path = program.string();
    const std::string host = request.hostName;

    const pid_t pid = fork();
    if (pid < 0) {
        ADD_FAILURE() << "fork: " << std::strerror(errno);
        return nullptr;
    }
    if (pid == 0) {
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        const int in = open("/dev/null", O_RDONLY);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || o < 0 || e < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 ||
            chdir(cwd.c_str()) != 0) {
            _exit(126);
        }
        if (!host.empty() && (unshare(CLONE_NEWUTS) != 0 || sethostname(host.data(), host.size()) != 0)) {
            _exit(kNoUtsNamespace);
        }
        execve(path.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return std::unique_ptr<LauncherProcess>(new LauncherProcess(pid));
}

LauncherProcess::~LauncherProcess()
{
    if (!status_) {
        kill(pid_, SIGKILL);
        int ignored = 0;
        waitpid(pid_, &ignored, 0);
    }
}

void LauncherProcess::signal(int signo) const
{
    EXPECT_EQ(0, kill(pid_, signo)) << "kill " << signo << ": " << std::strerror(errno);
}

void LauncherProcess::signalMainThread(int signo) const
{
    EXPECT_EQ(0, syscall(SYS_tgkill, pid_, pid_, signo))
        << "tgkill " << signo << ": " << std::strerror(errno);
}

bool LauncherProcess::running()
{
    if (status_) return false;
    int raw = 0;
    const pid_t r = waitpid(pid_, &raw, WNOHANG);
    if (r == 0) return true;
    if (r == pid_) {
        ExitStatus s;
        s.exited = WIFEXITED(raw);
        s.code = s.exited ? WEXITSTATUS(raw) : WTERMSIG(raw);
        status_ = s;
    } else {
        ADD_FAILURE() << "waitpid: " << std::strerror(errno);
        status_ = ExitStatus{};
    }
    return false;
}

std::optional<ExitStatus> LauncherProcess::waitExit(std::chrono::seconds ceiling)
{
    if (!waitUntil([this] { return !running(); }, ceiling)) {
        kill(pid_, SIGKILL);
        while (running()) std::this_thread::sleep_for(kPollInterval);
        return std::nullopt;
    }
    return status_;
}

bool LauncherProcess::signalPending(int signo) const
{
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("ShdPnd:", 0) == 0) {
            const unsigned long long mask = std::strtoull(line.c_str() + 7, nullptr, 16);
            return (mask >> (signo - 1)) & 1ULL;
        }
    }
    return false;
}

bool LauncherProcess::mainThreadInSyscall(long number) const
{
    const std::string text =
        readFile("/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/syscall");
    std::istringstream in(text);
    std::string first;
    in >> first;
    return !first.empty() && first.find_first_not_of("0123456789") == std::string::npos &&
           std::stol(first) == number;
}

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> completeLines(const fs::path& path)
{
    const std::string text = readFile(path);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::seconds ceiling)
{
    const auto deadline = std::chrono::steady_clock::now() + ceiling;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

size_t countOccurrences(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

AgentReport AgentReport::read(const fs::path& file)
{
    AgentReport report;
    report.lines_ = completeLines(file);
    return report;
}

bool AgentReport::has(const std::string& line) const
{
    return count(line) > 0;
}

size_t AgentReport::count(const std::string& line) const
{
    size_t n = 0;
    for (const auto& l : lines_) n += (l == line) ? 1 : 0;
    return n;
}

std::vector<std::string> AgentReport::values(const std::string& key) const
{
    std::vector<std::string> found;
    const std::string prefix = key + "=";
    for (const auto& l : lines_) {
        if (l.rfind(prefix, 0) == 0) found.push_back(l.substr(prefix.size()));
    }
    return found;
}

std::optional<std::string> AgentReport::value(const std::string& key) const
{
    auto all = values(key);
    if (all.empty()) return std::nullopt;
    return all.front();
}

std::string AgentReport::property(const std::string& name) const
{
    return value("property." + name).value_or("");
}

bool AgentReport::hasProperty(const std::string& name) const
{
    return value("property." + name).has_value();
}

size_t AgentReport::indexOf(const std::string& line) const
{
    for (size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i] == line) return i;
    }
    return std::string::npos;
}

}  // namespace launchertest
