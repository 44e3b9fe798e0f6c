// Stand-in for the shutdown program in the sysactions tests and benchmark.  It does nothing but
// record how it was started: into "record.<pid>" in its own directory it writes its argument
// vector and where its three standard streams point.
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>

#include "shutdown_standin_marker.h"

namespace {

std::string ReadLink(const char* path) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink(path, buffer, sizeof buffer - 1);
  if (n < 0) return std::string("<unreadable: errno ") + std::to_string(errno) + ">";
  return std::string(buffer, static_cast<size_t>(n));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string self = ReadLink("/proc/self/exe");
  const std::string dir = self.substr(0, self.rfind('/'));
  const std::string pid = std::to_string(getpid());

  std::string text = std::string("marker=") + orvtest::kStandInMarker + "\n";
  text += "exe=" + self + "\n";
  text += "argc=" + std::to_string(argc) + "\n";
  for (int i = 0; i < argc; ++i) text += "argv=" + std::string(argv[i]) + "\n";
  text += "fd0=" + ReadLink("/proc/self/fd/0") + "\n";
  text += "fd1=" + ReadLink("/proc/self/fd/1") + "\n";
  text += "fd2=" + ReadLink("/proc/self/fd/2") + "\n";

  // Written under a temporary name and renamed, so a reader never sees half a record.
  const std::string partial = dir + "/.record." + pid;
  const std::string record = dir + "/record." + pid;
  FILE* f = std::fopen(partial.c_str(), "w");
  if (f == nullptr) return 2;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (std::fclose(f) != 0 || !written) return 3;
  if (std::rename(partial.c_str(), record.c_str()) != 0) return 4;
  return 0;
}
