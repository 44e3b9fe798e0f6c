// OpenPegasus "Local" authentication over the local domain socket.
//
// The client names its user; the server answers 401 with the path of a file
// it has just written; the client proves it may read that file by sending its
// content back.  Since whoever answers on the socket chooses the path, the
// client reads only a regular file directly inside one of the directories
// OpenPegasus servers use for this, never through a symbolic link.
#ifndef ORV_HTTP_LOCALAUTH_H
#define ORV_HTTP_LOCALAUTH_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace orv {
namespace http {

constexpr std::size_t kMaxChallengeFileBytes = 4096;

// The directories a challenge file may live in.
const std::vector<std::string>& localAuthDirectories();

class LocalAuthError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The name of the effective user ("" if it cannot be found).
std::string currentUserName();

// `PegasusAuthorization: Local "<user>"`
std::string localAuthFirstHeader(const std::string& user);

// Extracts the file path from `Local "<path>"`.  Throws LocalAuthError.
std::string parseLocalChallenge(const std::string& wwwAuthenticate);

// Reads the challenge file, after checking where it is and that it is the
// effective user's own (a regular file, no group or other write), and returns the
// header line `PegasusAuthorization: Local "<user>:<path>:<content>"`.
// `allowedDirs` defaults to localAuthDirectories().  Throws LocalAuthError.
std::string localAuthAnswerHeader(const std::string& user, const std::string& challengePath,
                                  const std::vector<std::string>& allowedDirs = localAuthDirectories());

// Why the local socket at `path` cannot be trusted to be the CIM server's
// ("" when it can): it must be a socket owned by root or by the effective
// user, in a directory owned by one of them that others cannot write to
// unless it is sticky.  A missing socket is reported with the system's reason.
std::string untrustedSocketPathReason(const std::string& path);

// The same judgement on a connected descriptor, which no renaming can
// change: the process listening at the other end must run as root or as the
// effective user ("" when it does).
std::string untrustedSocketPeerReason(int fd);

// The local socket path connectLocal uses: $CIM_LOCAL_SOCKET if set, else the
// first existing OpenPegasus default ("" when none exists).
std::string findLocalSocketPath();
const std::vector<std::string>& defaultLocalSocketPaths();

}  // namespace http
}  // namespace orv

#endif
