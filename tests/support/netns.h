// Private networks for tests, removed when the test is done:
// - run_in_private_netns(): part of a test in a forked child inside a network
//   namespace of its own where only loopback exists (name look-ups fail
//   without reaching any real server, low ports can be bound);
// - TestNetwork: named namespaces joined by veth pairs with
//   documentation-range addresses (RFC 5737), for programs that broadcast.
//   Nothing touches this machine's own interfaces: every link is created
//   directly inside the namespaces, every program runs through
//   "ip netns exec", which refuses to start it when the namespace does not
//   exist, and every namespace is deleted when the TestNetwork goes.
#pragma once

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/child_process.h"

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

// A set of namespaces owned by one test. Names carry the process id and a
// counter so that tests running in parallel never share one.
class TestNetwork {
 public:
  TestNetwork() = default;
  ~TestNetwork() {
    for (const std::string& ns : namespaces_) (void)test_support::run_quiet({"ip", "netns", "del", ns});
  }
  TestNetwork(const TestNetwork&) = delete;
  TestNetwork& operator=(const TestNetwork&) = delete;

  // Creates an empty namespace (loopback up) and returns its name, or an
  // empty text when namespaces cannot be made here.
  std::string add_namespace() {
    static std::atomic<int> counter{0};
    const std::string name = "cvdisc-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    if (test_support::run_quiet({"ip", "netns", "add", name}) != 0) return {};
    namespaces_.push_back(name);
    if (test_support::run_quiet({"ip", "-n", name, "link", "set", "lo", "up"}) != 0) return {};
    return name;
  }

  // Joins two namespaces with a veth pair made inside them; each end gets its
  // address (with prefix, e.g. "192.0.2.1/24") and the subnet's broadcast.
  bool link(const std::string& ns_a, const std::string& addr_a, const std::string& ns_b, const std::string& addr_b) {
    const std::string end_a = "v" + std::to_string(links_) + "a";
    const std::string end_b = "v" + std::to_string(links_) + "b";
    ++links_;
    return test_support::run_quiet({"ip", "link", "add", end_a, "netns", ns_a, "type", "veth", "peer", "name", end_b,
                                    "netns", ns_b}) == 0 &&
           test_support::run_quiet({"ip", "-n", ns_a, "addr", "add", addr_a, "brd", "+", "dev", end_a}) == 0 &&
           test_support::run_quiet({"ip", "-n", ns_b, "addr", "add", addr_b, "brd", "+", "dev", end_b}) == 0 &&
           test_support::run_quiet({"ip", "-n", ns_a, "link", "set", end_a, "up"}) == 0 &&
           test_support::run_quiet({"ip", "-n", ns_b, "link", "set", end_b, "up"}) == 0;
  }

  // The command line that runs argv inside namespace ns.
  static std::vector<std::string> inside(const std::string& ns, std::vector<std::string> argv) {
    argv.insert(argv.begin(), {"ip", "netns", "exec", ns});
    return argv;
  }

 private:
  std::vector<std::string> namespaces_;
  int links_ = 0;
};

}  // namespace testnet
