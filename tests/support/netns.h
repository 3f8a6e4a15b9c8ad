// Runs part of a test in a child process inside a private network namespace
// of its own, where only a loopback interface exists: name look-ups fail
// without reaching any real server, and low ports can be bound.
#pragma once

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>

namespace testnet {

inline constexpr int kNoNamespace = 77;

// Returns the child's exit status (f's result), or kNoNamespace when no
// private namespace could be made here.
inline int run_in_private_netns(const std::function<int()>& f) {
  const pid_t pid = ::fork();
  if (pid < 0) return kNoNamespace;
  if (pid == 0) {
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0 && ::unshare(CLONE_NEWNET) != 0) ::_exit(kNoNamespace);
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq ifr{};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    if (s < 0 || ::ioctl(s, SIOCGIFFLAGS, &ifr) != 0) ::_exit(kNoNamespace);
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP);
    if (::ioctl(s, SIOCSIFFLAGS, &ifr) != 0) ::_exit(kNoNamespace);
    ::close(s);
    ::_exit(f());
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace testnet
