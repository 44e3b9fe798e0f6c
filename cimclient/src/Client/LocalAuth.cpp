#include "Client/LocalAuth.h"

#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>

namespace orv {
namespace http {

namespace {

struct FdGuard {
    int fd;
    ~FdGuard()
    {
        if (fd >= 0) ::close(fd);
    }
};

std::string canonical(const std::string& path)
{
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf) == nullptr) return std::string();
    return std::string(buf);
}

bool hasDotComponent(const std::string& path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (part == "." || part == "..") return true;
        start = end + 1;
    }
    return false;
}

bool safeHeaderText(const std::string& s)
{
    for (unsigned char c : s) {
        if (c < 0x20 || c == 0x7F || c == '"') return false;
    }
    return true;
}

bool trustedOwner(uid_t uid)
{
    return uid == 0 || uid == ::geteuid();
}

std::string ownerText(uid_t uid)
{
    return "uid " + std::to_string(uid) + ", neither root nor the calling user (uid " +
           std::to_string(::geteuid()) + ")";
}

}  // namespace

std::string untrustedSocketPathReason(const std::string& path)
{
    struct stat sock;
    if (::lstat(path.c_str(), &sock) != 0) return std::strerror(errno);
    if (!S_ISSOCK(sock.st_mode)) return "not a socket";
    if (!trustedOwner(sock.st_uid)) return "the socket is owned by " + ownerText(sock.st_uid);
    std::size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat d;
    if (::stat(dir.c_str(), &d) != 0) return "its directory " + dir + ": " + std::strerror(errno);
    // Whoever may write the directory may put another socket under the name.
    if (!trustedOwner(d.st_uid)) return "its directory " + dir + " is owned by " + ownerText(d.st_uid);
    if ((d.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (d.st_mode & S_ISVTX) == 0) {
        return "its directory " + dir + " is writable by other users and not sticky";
    }
    return std::string();
}

std::string untrustedSocketPeerReason(int fd)
{
    struct ucred peer;
    socklen_t len = sizeof peer;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &len) != 0 || len != sizeof peer) {
        return std::string("cannot learn who listens on the socket: ") + std::strerror(errno);
    }
    if (!trustedOwner(peer.uid)) return "the process listening on it runs as " + ownerText(peer.uid);
    return std::string();
}

const std::vector<std::string>& localAuthDirectories()
{
    static const std::vector<std::string> dirs = {"/var/opt/tog-pegasus/cache/localauth", "/var/tmp", "/tmp"};
    return dirs;
}

const std::vector<std::string>& defaultLocalSocketPaths()
{
    static const std::vector<std::string> paths = {"/var/run/tog-pegasus/socket/cimxml.socket",
                                                   "/var/run/tog-pegasus/cimxml.socket",
                                                   "/var/tmp/cimxml.socket"};
    return paths;
}

std::string findLocalSocketPath()
{
    const char* env = std::getenv("CIM_LOCAL_SOCKET");
    if (env != nullptr && env[0] != '\0') return env;
    for (const auto& p : defaultLocalSocketPaths()) {
        struct stat st;
        if (::stat(p.c_str(), &st) == 0) return p;
    }
    return std::string();
}

std::string currentUserName()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::size_t bufSize = size > 0 ? static_cast<std::size_t>(size) : 16384u;
    std::unique_ptr<char[]> buf(new char[bufSize]);
    struct passwd pw;
    struct passwd* result = nullptr;
    if (::getpwuid_r(::geteuid(), &pw, buf.get(), bufSize, &result) != 0 || result == nullptr) {
        return std::string();
    }
    return std::string(result->pw_name);
}

std::string localAuthFirstHeader(const std::string& user)
{
    return "PegasusAuthorization: Local \"" + user + "\"";
}

std::string parseLocalChallenge(const std::string& value)
{
    std::size_t i = 0;
    while (i < value.size() && value[i] == ' ') ++i;
    static const char kScheme[] = "local";
    for (std::size_t k = 0; k < sizeof(kScheme) - 1; ++k, ++i) {
        if (i >= value.size() || std::tolower(static_cast<unsigned char>(value[i])) != kScheme[k]) {
            throw LocalAuthError("the server's authentication challenge is not of the Local scheme: " +
                                 value);
        }
    }
    while (i < value.size() && value[i] == ' ') ++i;
    if (i >= value.size() || value[i] != '"') {
        throw LocalAuthError("the server's Local challenge carries no quoted file path: " + value);
    }
    std::size_t close = value.find('"', i + 1);
    if (close == std::string::npos) {
        throw LocalAuthError("the server's Local challenge has an unterminated file path: " + value);
    }
    std::string path = value.substr(i + 1, close - i - 1);
    if (path.empty()) throw LocalAuthError("the server's Local challenge names no file");
    return path;
}

std::string localAuthAnswerHeader(const std::string& user, const std::string& path,
                                  const std::vector<std::string>& allowedDirs)
{
    const std::string refused = "refusing the server's local authentication challenge file " + path + ": ";
    if (path.empty() || path[0] != '/') throw LocalAuthError(refused + "not an absolute path");
    if (!safeHeaderText(path)) throw LocalAuthError(refused + "the path holds control characters or quotes");
    if (hasDotComponent(path)) throw LocalAuthError(refused + "the path holds . or .. components");

    struct stat linkInfo;
    if (::lstat(path.c_str(), &linkInfo) != 0) {
        throw LocalAuthError(refused + std::strerror(errno));
    }
    if (S_ISLNK(linkInfo.st_mode)) throw LocalAuthError(refused + "it is a symbolic link");
    if (!S_ISREG(linkInfo.st_mode)) throw LocalAuthError(refused + "not a regular file");

    // The file itself must sit directly in an allowed directory, judged on
    // fully resolved paths so that a linked directory cannot smuggle it in.
    std::string real = canonical(path);
    std::size_t slash = real.rfind('/');
    std::string realDir = slash == std::string::npos ? std::string() : real.substr(0, slash);
    if (realDir.empty()) realDir = "/";
    bool allowed = false;
    for (const auto& dir : allowedDirs) {
        std::string realAllowed = canonical(dir);
        if (!realAllowed.empty() && realAllowed == realDir) {
            allowed = true;
            break;
        }
    }
    if (real.empty() || !allowed) {
        throw LocalAuthError(refused + "it is not in a local authentication directory");
    }

    FdGuard fd{::open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)};
    if (fd.fd < 0) throw LocalAuthError(refused + std::strerror(errno));
    struct stat openInfo;
    if (::fstat(fd.fd, &openInfo) != 0 || !S_ISREG(openInfo.st_mode) || openInfo.st_ino != linkInfo.st_ino ||
        openInfo.st_dev != linkInfo.st_dev) {
        throw LocalAuthError(refused + "the file changed while it was checked");
    }
    // Only a file of our own, which nobody else could have written, proves
    // anything; any other file the server names is someone's secret.
    if (openInfo.st_uid != ::geteuid()) {
        throw LocalAuthError(refused + "it is owned by uid " + std::to_string(openInfo.st_uid) +
                             ", not by the calling user (uid " + std::to_string(::geteuid()) + ")");
    }
    if ((openInfo.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        throw LocalAuthError(refused + "it is writable by group or others");
    }
    std::string content;
    char buf[512];
    for (;;) {
        ssize_t n = ::read(fd.fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw LocalAuthError(refused + std::strerror(errno));
        }
        if (n == 0) break;
        content.append(buf, static_cast<std::size_t>(n));
        if (content.size() > kMaxChallengeFileBytes) {
            throw LocalAuthError(refused + "the file is larger than " +
                                 std::to_string(kMaxChallengeFileBytes) + " bytes");
        }
    }
    // The secret is the file's first line.
    std::size_t eol = content.find_first_of("\r\n");
    if (eol != std::string::npos) content.resize(eol);
    if (!safeHeaderText(content))
        throw LocalAuthError(refused + "the file holds characters a header cannot carry");
    return "PegasusAuthorization: Local \"" + user + ":" + path + ":" + content + "\"";
}

}  // namespace http
}  // namespace orv
