// Helpers of the sysactions tests and benchmark: placing stand-in programs where the natives
// search, reading what a started stand-in recorded, and the private mount namespace in which
// /sbin and /usr/sbin show test directories.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace orvtest {

// Copies the stand-in program to dir/shutdown with the given mode.
void PlaceStandIn(const std::string& standIn, const std::string& dir, mode_t mode);
// A dir/shutdown that carries the marker but is no program, so that exec fails (ENOEXEC).
void PlaceNonProgram(const std::string& dir, mode_t mode);
// Removes everything inside dir, keeping dir.
void EmptyDir(const std::string& dir);

struct StandInRecord {
    bool found = false;
    std::string exe;
    std::vector<std::string> argv;
    std::string fd0, fd1, fd2;
    std::string fds;  // every descriptor it was started with, "0,1,2" when only those
};
// What the stand-in started as pid recorded in dir ("found" false when it left no record).
StandInRecord ReadRecord(const std::string& dir, pid_t pid);
// Waits for the child pid; returns its exit status, or -1 when it did not exit normally.
int WaitChild(pid_t pid);

// A private mount namespace for the process, in which /sbin and /usr/sbin are test directories,
// PATH names only test directories (and one relative element), and the working directory is a
// test directory.  Must be made while the process is still single-threaded (before any JVM).
class ShutdownCover {
public:
    // nullptr with the reason in *whyNot when the namespace cannot be made.
    static std::unique_ptr<ShutdownCover> Create(std::string* whyNot);
    // Takes the test directories away again (the namespace itself ends with the process).
    ~ShutdownCover();
    ShutdownCover(const ShutdownCover&) = delete;
    ShutdownCover& operator=(const ShutdownCover&) = delete;

    const std::string& root() const { return root_; }
    const std::string& sbin() const { return sbin_; }          // what /sbin shows
    const std::string& usrSbin() const { return usrSbin_; }    // what /usr/sbin shows
    const std::string& localBin() const { return localBin_; }  // first PATH element
    const std::string& relBin() const { return relBin_; }      // what the relative element names
    const std::string& bin() const { return bin_; }            // last PATH element
    const std::string& pathValue() const { return path_; }
    bool sbinIsUsrSbin() const { return sbin_ == usrSbin_; }

    // Empties every search directory.
    void Clear() const;
    // Checks that the cover is in place: /sbin and /usr/sbin are the test directories, PATH and
    // the working directory are the test's, and every shutdown the natives could find carries
    // the stand-in marker.  False with the problem in *problem otherwise.
    bool Verify(std::string* problem) const;

private:
    ShutdownCover() = default;
    std::vector<std::string> mounted_;  // mount points covered, to be released
    std::string root_, sbin_, usrSbin_, localBin_, relBin_, bin_, cwd_, path_;
};

}  // namespace orvtest
