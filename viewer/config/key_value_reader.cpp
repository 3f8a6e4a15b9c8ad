#include "viewer/config/key_value_reader.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>

namespace config {
namespace {

void add_line(KeyValueMap& map, std::string_view line) {
  if (std::size_t comment = line.find("//"); comment != std::string_view::npos) line = line.substr(0, comment);
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return;
  // emplace keeps an existing entry: the first occurrence of a key wins.
  map.emplace(std::string(line.substr(0, eq)), std::string(line.substr(eq + 1)));
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

KeyValueMap parse_key_values(std::string_view bytes) {
  KeyValueMap map;
  std::string line;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\r') continue;
    if (b == '\n' || b == 0xFF) {
      add_line(map, line);
      line.clear();
      continue;
    }
    line.push_back(c);
  }
  // A last line without a line feed still counts.
  add_line(map, line);
  return map;
}

std::optional<KeyValueMap> read_key_values(const std::string& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return std::nullopt;
  std::string bytes;
  char buffer[8192];
  while (bytes.size() < kMaxSettingsFileBytes) {
    std::size_t want = std::min(sizeof buffer, kMaxSettingsFileBytes - bytes.size());
    std::size_t got = std::fread(buffer, 1, want, file.get());
    if (got == 0) break;
    bytes.append(buffer, got);
  }
  return parse_key_values(bytes);
}

std::size_t scan_int(std::string_view text, std::int32_t* out) {
  std::size_t i = 0;
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
  while (i < text.size() && space(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::size_t digits_start = i;
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    if (value < kLimit) value = value * 10 + (text[i] - '0');
    ++i;
  }
  if (i == digits_start) return 0;
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) value = std::numeric_limits<std::int32_t>::max();
  if (value < std::numeric_limits<std::int32_t>::min()) value = std::numeric_limits<std::int32_t>::min();
  *out = static_cast<std::int32_t>(value);
  return i;
}

void lookup_int(const KeyValueMap& map, std::string_view key, std::int32_t* out) {
  auto it = map.find(key);
  if (it == map.end()) return;
  (void)scan_int(it->second, out);
}

std::optional<std::string> lookup_text(const KeyValueMap& map, std::string_view key) {
  auto it = map.find(key);
  if (it == map.end()) return std::nullopt;
  return it->second;
}

}  // namespace config
