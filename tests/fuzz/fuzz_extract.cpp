// open_archive + extract_all on arbitrary bytes, into a scratch folder that holds a link to a
// folder outside it: nothing may appear outside the destination and nothing may be written
// through the link, whatever the archive says.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <set>
#include <span>
#include <string>

#include "payload/archive.hpp"
#include "platform/fs.hpp"

namespace {

std::set<std::string> names_in(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

struct Scratch {
  std::string top = "/tmp/zarvo-fuzz-extract-" + std::to_string(getpid());
  std::string destination = top + "/dest";
  std::string outside = top + "/outside";
  Scratch() {
    mkdir(top.c_str(), 0700);
    mkdir(outside.c_str(), 0700);
    std::ofstream(outside + "/sentinel") << "untouched";
  }
  void reset() {
    (void)platform::remove_directory_all(destination);
    mkdir(destination.c_str(), 0700);
    if (symlink(outside.c_str(), (destination + "/link").c_str()) != 0) std::abort();
  }
  void check() const {
    if (names_in(top) != std::set<std::string>{".", "..", "dest", "outside"}) std::abort();
    if (names_in(outside) != std::set<std::string>{".", "..", "sentinel"}) std::abort();
    std::ifstream in(outside + "/sentinel");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text != "untouched") std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Scratch scratch;
  scratch.reset();
  auto archive = payload::open_archive(std::as_bytes(std::span(data, size)));
  if (archive) (void)payload::extract_all(*archive, scratch.destination);
  scratch.check();
  return 0;
}
