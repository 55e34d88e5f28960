#include "support/stand_in_record.hpp"

#include <fstream>
#include <sstream>
#include <string_view>

namespace test_support {

namespace {

// Just enough JSON for the record: objects, arrays, strings (with \" \\ \n \uXXXX below 0x80
// as the stand-in writes them) and null.
class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool literal(std::string_view word) {
    skip_space();
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  std::optional<std::string> string() {
    if (!literal("\"")) return std::nullopt;
    std::string out;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= text_.size()) return std::nullopt;
      const char e = text_[pos_++];
      if (e == 'u') {
        if (pos_ + 4 > text_.size()) return std::nullopt;
        out += static_cast<char>(std::stoul(std::string(text_.substr(pos_, 4)), nullptr, 16));
        pos_ += 4;
      } else if (e == 'n') {
        out += '\n';
      } else {
        out += e;
      }
    }
    return std::nullopt;
  }

  // A string or null; none (with `ok` false) for anything else.
  std::optional<std::string> string_or_null(bool& ok) {
    if (literal("null")) return std::nullopt;
    auto s = string();
    ok = ok && s.has_value();
    return s;
  }

 private:
  void skip_space() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n')) ++pos_;
  }
  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<StandInRecord> read_stand_in_record(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::stringstream buffer;
  buffer << file.rdbuf();
  const std::string text = buffer.str();
  Reader r(text);
  StandInRecord record;
  bool ok = r.literal("{") && r.literal("\"command_line\"") && r.literal(":");
  if (auto s = r.string()) record.command_line = *s; else ok = false;
  ok = ok && r.literal(",") && r.literal("\"argv\"") && r.literal(":") && r.literal("[");
  while (ok && !r.literal("]")) {
    if (!record.argv.empty() && !r.literal(",")) return std::nullopt;
    auto s = r.string();
    if (!s) return std::nullopt;
    record.argv.push_back(*s);
  }
  ok = ok && r.literal(",") && r.literal("\"cwd\"") && r.literal(":");
  if (auto s = r.string()) record.cwd = *s; else ok = false;
  ok = ok && r.literal(",") && r.literal("\"env\"") && r.literal(":") && r.literal("{");
  while (ok && !r.literal("}")) {
    if (!record.env.empty() && !r.literal(",")) return std::nullopt;
    auto name = r.string();
    if (!name || !r.literal(":")) return std::nullopt;
    record.env[*name] = r.string_or_null(ok);
  }
  ok = ok && r.literal(",") && r.literal("\"stdin\"") && r.literal(":");
  if (ok) record.stdin_line = r.string_or_null(ok);
  ok = ok && r.literal("}");
  if (!ok) return std::nullopt;
  return record;
}

}  // namespace test_support
