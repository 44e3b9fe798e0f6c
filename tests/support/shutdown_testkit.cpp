#include "shutdown_testkit.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "shutdown_standin_guard.h"
#include "shutdown_standin_marker.h"

namespace fs = std::filesystem;

namespace orvtest {

namespace {

constexpr char kRelativeElement[] = "rel/bin";

std::string Errno(const char* what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool SameDir(const std::string& a, const std::string& b)
{
    struct stat sa {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool Bind(const std::string& from, const std::string& onto, std::vector<std::string>* mounted,
          std::string* whyNot)
{
    if (mount(from.c_str(), onto.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        *whyNot = Errno(("bind-mounting a test directory over " + onto).c_str());
        return false;
    }
    mounted->push_back(onto);
    return true;
}

}  // namespace

void PlaceStandIn(const std::string& standIn, const std::string& dir, mode_t mode)
{
    const std::string target = dir + "/shutdown";
    fs::copy_file(standIn, target, fs::copy_options::overwrite_existing);
    chmod(target.c_str(), mode);
}

void PlaceNonProgram(const std::string& dir, mode_t mode)
{
    const std::string target = dir + "/shutdown";
    {
        std::ofstream out(target, std::ios::trunc);
        out << kStandInMarker << "\nthis file has the execute bits but is not a program\n";
    }
    chmod(target.c_str(), mode);
}

void EmptyDir(const std::string& dir)
{
    for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
}

StandInRecord ReadRecord(const std::string& dir, pid_t pid)
{
    StandInRecord r;
    std::ifstream in(dir + "/record." + std::to_string(pid));
    if (!in) return r;
    r.found = true;
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
        if (key == "exe")
            r.exe = value;
        else if (key == "argv")
            r.argv.push_back(value);
        else if (key == "fd0")
            r.fd0 = value;
        else if (key == "fd1")
            r.fd1 = value;
        else if (key == "fd2")
            r.fd2 = value;
        else if (key == "fds")
            r.fds = value;
    }
    return r;
}

int WaitChild(pid_t pid)
{
    int status = 0;
    pid_t rc;
    do {
        rc = waitpid(pid, &status, 0);
    } while (rc < 0 && errno == EINTR);
    if (rc != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

std::unique_ptr<ShutdownCover> ShutdownCover::Create(std::string* whyNot)
{
    if (geteuid() != 0) {
        *whyNot = "not running as root, so no private mount namespace can be made";
        return nullptr;
    }
    char rootTemplate[] = "/tmp/orv-shutdown-cover-XXXXXX";
    if (mkdtemp(rootTemplate) == nullptr) {
        *whyNot = Errno("mkdtemp");
        return nullptr;
    }
    std::unique_ptr<ShutdownCover> c(new ShutdownCover);
    c->root_ = rootTemplate;
    const std::string coverSbin = c->root_ + "/cover-sbin";
    c->usrSbin_ = c->root_ + "/cover-usr-sbin";
    c->localBin_ = c->root_ + "/local-bin";
    c->bin_ = c->root_ + "/bin";
    c->cwd_ = c->root_ + "/cwd";
    c->relBin_ = c->cwd_ + "/" + kRelativeElement;
    std::error_code ec;
    for (const auto& d : {coverSbin, c->usrSbin_, c->localBin_, c->bin_, c->relBin_}) {
        fs::create_directories(d, ec);
        if (ec) {
            *whyNot = "cannot create " + d + ": " + ec.message();
            return nullptr;
        }
    }

    if (unshare(CLONE_NEWNS) != 0) {
        *whyNot = Errno("unshare(CLONE_NEWNS)");
        return nullptr;
    }
    // Without this the bind mounts below would propagate to the machine's own /usr/sbin.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        *whyNot = Errno("making / private in the new mount namespace");
        return nullptr;
    }
    // On a merged-/usr system /sbin is a link to usr/sbin: covering /usr/sbin covers both.
    const bool merged = SameDir("/sbin", "/usr/sbin");
    if (!Bind(c->usrSbin_, "/usr/sbin", &c->mounted_, whyNot)) return nullptr;
    if (merged) {
        c->sbin_ = c->usrSbin_;
    } else {
        c->sbin_ = coverSbin;
        if (!Bind(c->sbin_, "/sbin", &c->mounted_, whyNot)) return nullptr;
    }

    c->path_ = c->localBin_ + ":" + kRelativeElement + ":" + c->bin_;
    if (setenv("PATH", c->path_.c_str(), 1) != 0 || chdir(c->cwd_.c_str()) != 0) {
        *whyNot = Errno("setting PATH and the working directory");
        return nullptr;
    }
    std::string problem;
    if (!c->Verify(&problem)) {
        *whyNot = "the cover is not in place: " + problem;
        return nullptr;
    }
    return c;
}

ShutdownCover::~ShutdownCover()
{
    // Only this process's private namespace sees these mounts; lifting them here just lets the
    // test directories go before the process ends.
    for (auto it = mounted_.rbegin(); it != mounted_.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
    std::error_code ec;
    if (!root_.empty()) fs::remove_all(root_, ec);
}

void ShutdownCover::Clear() const
{
    for (const auto& d : {sbin_, usrSbin_, localBin_, relBin_, bin_}) EmptyDir(d);
}

bool ShutdownCover::Verify(std::string* problem) const
{
    if (!SameDir("/sbin", sbin_)) {
        *problem = "/sbin is not the test directory " + sbin_;
        return false;
    }
    if (!SameDir("/usr/sbin", usrSbin_)) {
        *problem = "/usr/sbin is not the test directory " + usrSbin_;
        return false;
    }
    const char* path = std::getenv("PATH");
    if (path == nullptr || path_ != path) {
        *problem = "PATH is not the test's";
        return false;
    }
    if (!SameDir(".", cwd_)) {
        *problem = "the working directory is not the test's";
        return false;
    }
    // Every place the natives look, the relative element included, holds at most a stand-in.
    std::stringstream elements("/sbin:/usr/sbin:" + path_);
    std::string element;
    while (std::getline(elements, element, ':')) {
        if (element.empty()) continue;
        const std::string candidate = element + "/shutdown";
        struct stat st {};
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && !IsStandIn(candidate.c_str())) {
            *problem = candidate + " is not the tests' stand-in";
            return false;
        }
    }
    return true;
}

}  // namespace orvtest
