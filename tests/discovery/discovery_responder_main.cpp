// A stand-in for cameras on a test network: listens on the discovery port and
// answers every request with the configured replies, in the order given. It
// prints "ready" once it listens and one "request <ms> <length> <sender>" line
// per request (ms since the first request), so a test can see when and from
// where the searcher asked.
//
//   discovery_responder [--port N] [--gap-us N] [--many N]
//                       [--answer CODE,MAC,NAME,DESC[,LENGTH] ...]
//
// MAC is 12 hexadecimal digits; LENGTH shortens the datagram (default 128).
// --many adds N cameras with consecutive MACs from 020000000000; --gap-us
// paces the answers so that a small receive buffer keeps up.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Answer {
  std::vector<unsigned char> bytes;
};

bool parse_answer(const std::string& option, Answer& out) {
  std::vector<std::string> parts;
  std::stringstream ss(option);
  for (std::string p; std::getline(ss, p, ',');) parts.push_back(p);
  if (parts.size() < 4 || parts[1].size() != 12) return false;
  const int code = std::atoi(parts[0].c_str());
  std::size_t length = parts.size() > 4 ? std::strtoul(parts[4].c_str(), nullptr, 10) : 128;
  std::vector<unsigned char> b(128, 0);
  b[8] = static_cast<unsigned char>(code & 0xff);
  b[9] = static_cast<unsigned char>(code >> 8);
  for (int i = 0; i < 6; ++i)
    b[29 + i] = static_cast<unsigned char>(std::stoul(parts[1].substr(2 * i, 2), nullptr, 16));
  std::memcpy(&b[35], parts[2].data(), std::min<std::size_t>(parts[2].size(), 17));
  std::memcpy(&b[52], parts[3].data(), std::min<std::size_t>(parts[3].size(), 33));
  b.resize(std::min<std::size_t>(length, b.size()));
  out.bytes = std::move(b);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 916;
  long gap_us = 0;
  std::vector<Answer> answers;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--port") == 0) {
      port = std::atoi(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--gap-us") == 0) {
      gap_us = std::atol(argv[i + 1]);
    } else if (std::strcmp(argv[i], "--many") == 0) {
      const int n = std::atoi(argv[i + 1]);
      for (int k = 0; k < n; ++k) {
        char option[64];
        std::snprintf(option, sizeof(option), "10,02%010x,cam%d,many", k, k);
        Answer a;
        (void)parse_answer(option, a);
        answers.push_back(std::move(a));
      }
    } else if (std::strcmp(argv[i], "--answer") == 0) {
      Answer a;
      if (!parse_answer(argv[i + 1], a)) {
        std::fprintf(stderr, "bad answer %s\n", argv[i + 1]);
        return 2;
      }
      answers.push_back(std::move(a));
    } else {
      std::fprintf(stderr, "unknown option %s\n", argv[i]);
      return 2;
    }
  }
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(static_cast<std::uint16_t>(port));
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof(any)) != 0) {
    std::perror("bind");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  bool first = true;
  std::chrono::steady_clock::time_point t0;
  for (;;) {
    unsigned char buf[64];
    sockaddr_in from{};
    socklen_t len = sizeof(from);
    const ssize_t n = ::recvfrom(fd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) continue;
    const auto now = std::chrono::steady_clock::now();
    if (first) t0 = now, first = false;
    char from_text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, from_text, sizeof(from_text));
    std::printf("request %lld %zd %s\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(now - t0).count()), n,
                from_text);
    std::fflush(stdout);
    for (const Answer& a : answers) {
      (void)::sendto(fd, a.bytes.data(), a.bytes.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&from), len);
      if (gap_us > 0) ::usleep(static_cast<useconds_t>(gap_us));
    }
  }
}
