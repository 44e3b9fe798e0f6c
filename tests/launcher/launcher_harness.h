// Runs the real agentlauncher as a child process in a scratch directory and reads
// what it and the sample agent left behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace launchertest {

namespace fs = std::filesystem;

// Ceilings only: a healthy run needs a second or two, a loaded machine much more.
constexpr std::chrono::seconds kWaitCeiling{60};
constexpr std::chrono::milliseconds kPollInterval{20};

// A fresh directory under TMPDIR (or /tmp), removed with everything in it.
class ScratchDir {
public:
    static std::unique_ptr<ScratchDir> create(const std::string& tag);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    explicit ScratchDir(fs::path path) : path_(std::move(path)) {}
    fs::path path_;
};

struct ExitStatus {
    bool exited = false;  // false: ended by a signal
    int code = 0;         // exit status, or the signal number
    std::string describe() const;
};

struct LaunchRequest {
    std::vector<std::string> environment;  // "NAME=value", the child's whole environment
    std::vector<std::string> arguments;    // after argv[0]
    fs::path workingDirectory;
    fs::path stdoutFile;
    fs::path stderrFile;
    // If set, the child runs in a UTS namespace of its own with this host name.
    std::string hostName;
};

// Exit status of a child that could not get its own UTS namespace (not privileged).
constexpr int kNoUtsNamespace = 125;

class LauncherProcess {
public:
    // Starts the launcher; fails the calling test (and returns null) if it cannot.
    static std::unique_ptr<LauncherProcess> start(const fs::path& program, const LaunchRequest& request);
    ~LauncherProcess();  // kills and reaps a child that is still running
    LauncherProcess(const LauncherProcess&) = delete;
    LauncherProcess& operator=(const LauncherProcess&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int signo) const;            // to the process
    void signalMainThread(int signo) const;  // to the thread that runs main (tid == pid)
    bool running();
    // The exit status, or nothing if the child is still running after the ceiling
    // (it is then killed).
    std::optional<ExitStatus> waitExit(std::chrono::seconds ceiling = kWaitCeiling);
    // True while a process-directed signal is still pending (not yet handled).
    bool signalPending(int signo) const;
    // True if the main thread is blocked in the given system call right now.
    bool mainThreadInSyscall(long number) const;

private:
    explicit LauncherProcess(pid_t pid) : pid_(pid) {}
    pid_t pid_;
    std::optional<ExitStatus> status_;
};

std::string readFile(const fs::path& path);
// The complete lines of a file (a last line without its line end is left out).
std::vector<std::string> completeLines(const fs::path& path);
bool waitUntil(const std::function<bool()>& condition, std::chrono::seconds ceiling = kWaitCeiling);
size_t countOccurrences(const std::string& text, const std::string& needle);

// The sample agent's agent-report.txt: "key=value" lines and bare markers.
class AgentReport {
public:
    static AgentReport read(const fs::path& file);
    bool has(const std::string& line) const;
    size_t count(const std::string& line) const;
    std::vector<std::string> values(const std::string& key) const;   // all "key=..." values
    std::optional<std::string> value(const std::string& key) const;  // the first one
    std::string property(const std::string& name) const;             // "" when missing
    bool hasProperty(const std::string& name) const;
    // Position of a line, or npos.
    size_t indexOf(const std::string& line) const;
    const std::vector<std::string>& lines() const { return lines_; }

private:
    std::vector<std::string> lines_;
};

}  // namespace launchertest
