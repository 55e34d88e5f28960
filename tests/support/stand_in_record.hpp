// Reads what the stand-in programs of tests/fixtures record about how they were started.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

struct StandInRecord {
  std::string command_line;
  std::vector<std::string> argv;
  std::string cwd;
  std::map<std::string, std::optional<std::string>> env;
  std::optional<std::string> stdin_line;
};

// The record at the path, or none when the file is missing or not a whole record.
std::optional<StandInRecord> read_stand_in_record(const std::filesystem::path& path);

}  // namespace test_support
