// asfperiod: the analysis tool the viewer starts for every finished
// recording. It appends the recording period as a 50-byte trailer to the
// file, where the saved-files browser reads the start and end times back.
//
//   asfperiod "PATH~KSYYYY/MM/DD   hh:mm,YYYY/MM/DD   hh:mm~COUNT"
//
// The one argument is what the viewer passes; if a caller split it at blanks
// the pieces are joined again. COUNT (one per 50 seconds of recording) is
// checked but not otherwise used. A file that does not start with an ASF
// Header Object is left alone, and a file that already ends in a trailer is
// not given a second one.
//
// Exit status: 0 trailer written (or already there), 1 bad argument,
// 2 not a recording or not writable.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "viewer/record/analysis_tool.h"
#include "viewer/record/period_trailer.h"

namespace {

// ASF Header Object GUID {75B22630-668E-11CF-A6D9-00AA0062CE6C}, as stored.
constexpr unsigned char kAsfHeaderGuid[16] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                              0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

bool read_at(int fd, void* buf, std::size_t n, off_t at) { return ::pread(fd, buf, n, at) == static_cast<ssize_t>(n); }

int append_trailer(const std::string& path, const std::string& period) {
  std::uint8_t trailer[record::kPeriodTrailerSize];
  if (!record::make_period_trailer(period, trailer) || !record::is_period_trailer(trailer, sizeof trailer)) {
    std::fprintf(stderr, "asfperiod: not a period: %s\n", period.c_str());
    return 1;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "asfperiod: %s: %s\n", path.c_str(), std::strerror(errno));
    return 2;
  }
  int status = 2;
  struct stat st {};
  unsigned char guid[16];
  std::uint8_t tail[record::kPeriodTrailerSize];
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !read_at(fd, guid, sizeof guid, 0) ||
      std::memcmp(guid, kAsfHeaderGuid, sizeof guid) != 0) {
    std::fprintf(stderr, "asfperiod: %s: not an ASF recording\n", path.c_str());
  } else if (st.st_size >= static_cast<off_t>(sizeof tail) &&
             read_at(fd, tail, sizeof tail, st.st_size - static_cast<off_t>(sizeof tail)) &&
             record::is_period_trailer(tail, sizeof tail)) {
    status = 0;  // already done
  } else if (::pwrite(fd, trailer, sizeof trailer, st.st_size) == static_cast<ssize_t>(sizeof trailer)) {
    status = 0;
  } else {
    std::fprintf(stderr, "asfperiod: %s: %s\n", path.c_str(), std::strerror(errno));
    // Leave no partial trailer behind.
    if (::ftruncate(fd, st.st_size) != 0) std::fprintf(stderr, "asfperiod: %s: cannot cut back\n", path.c_str());
  }
  if (::close(fd) != 0 && status == 0) status = 2;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: asfperiod \"PATH~PERIOD~COUNT\"\n");
    return 1;
  }
  std::string argument = argv[1];
  for (int i = 2; i < argc; ++i) argument += std::string(" ") + argv[i];
  std::string path, period;
  int count = 0;
  if (!record::split_analysis_argument(argument, &path, &period, &count)) {
    std::fprintf(stderr, "asfperiod: malformed argument: %s\n", argument.c_str());
    return 1;
  }
  return append_trailer(path, period);
}
