#include "viewer/config/key_value_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace config {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// A line buffer that once held a huge value gives its memory back.
constexpr std::size_t kKeptLineCapacity = 64 * 1024;
constexpr std::size_t kReadChunkBytes = 64 * 1024;

}  // namespace

void KeyValueParser::feed(std::string_view bytes) {
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\r') continue;
    if (b == '\n' || b == 0xFF) {
      end_line();
      continue;
    }
    if (b != ' ' && b != '\t') blank_ = false;
    if (b == 0 && lines_ < kHeadLines) head_nul_ = true;
    if (skipping_) continue;
    if (c == '/' && !line_.empty() && line_.back() == '/' && line_.size() > key_end_) {
      // "//" starts a comment; the first "/" is not part of the line either.
      line_.pop_back();
      skipping_ = true;
      continue;
    }
    if (!have_key_) {
      if (c == '=') {
        if (lines_ < kHeadLines) head_keys_.push_back(line_);
        // The first occurrence of a key wins: a later one is not kept.
        if (map_.find(line_) != map_.end()) {
          skipping_ = true;
          line_.clear();
          continue;
        }
        have_key_ = true;
        key_end_ = line_.size();
        continue;
      }
      if (line_.size() >= kMaxKeyBytes) {
        skipping_ = true;
        line_.clear();
        continue;
      }
    } else if (line_.size() - key_end_ >= kMaxValueBytes) {
      too_large_ = true;
      skipping_ = true;
      have_key_ = false;
      line_.clear();
      continue;
    }
    line_.push_back(c);
  }
}

void KeyValueParser::end_line() {
  if (have_key_) {
    std::string key = line_.substr(0, key_end_);
    order_.push_back(key);
    map_.emplace(std::move(key), line_.substr(key_end_));
  }
  line_.clear();
  if (line_.capacity() > kKeptLineCapacity) line_.shrink_to_fit();
  key_end_ = 0;
  have_key_ = false;
  skipping_ = false;
  ++lines_;
}

void KeyValueParser::finish() { end_line(); }

std::vector<std::pair<std::string, std::string>> KeyValueParser::entries() const {
  std::vector<std::pair<std::string, std::string>> out;
  out.reserve(order_.size());
  for (const std::string& key : order_) out.emplace_back(key, map_.find(key)->second);
  return out;
}

KeyValueMap parse_key_values(std::string_view bytes) {
  KeyValueParser parser;
  parser.feed(bytes);
  parser.finish();
  return parser.take_map();
}

SettingsFileRead read_settings_file(const std::string& path) {
  SettingsFileRead result;
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    if (errno == ENOENT || errno == ENOTDIR) return result;
    result.status = SettingsFileRead::Status::Unreadable;
    result.error = std::strerror(errno);
    return result;
  }
  KeyValueParser parser;
  std::unique_ptr<char[]> buffer(new char[kReadChunkBytes]);
  for (;;) {
    const std::size_t got = std::fread(buffer.get(), 1, kReadChunkBytes, file.get());
    if (got > 0) parser.feed(std::string_view(buffer.get(), got));
    if (got < kReadChunkBytes) break;
  }
  result.head_keys = parser.head_keys();
  result.head_has_nul = parser.head_has_nul();
  result.blank = parser.blank();
  if (std::ferror(file.get())) {
    result.status = SettingsFileRead::Status::Unreadable;
    result.error = std::strerror(errno);
    return result;
  }
  if (parser.value_too_large()) {
    result.status = SettingsFileRead::Status::Unreadable;
    result.error = "a value longer than " + std::to_string(kMaxValueBytes >> 20) + " MiB";
    return result;
  }
  parser.finish();
  result.status = SettingsFileRead::Status::Read;
  result.entries = parser.entries();
  result.map = parser.take_map();
  return result;
}

std::optional<KeyValueMap> read_key_values(const std::string& path) {
  SettingsFileRead read = read_settings_file(path);
  if (read.status != SettingsFileRead::Status::Read) return std::nullopt;
  return std::move(read.map);
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
