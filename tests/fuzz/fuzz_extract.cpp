// open_archive + extract_all on arbitrary bytes, into a scratch folder that holds a link to a
// folder outside it. Whatever the archive says, nothing may appear outside the destination and
// nothing may be written through the link. An independent reading of the archive
// (tests/support/reference_zip) must find one reading exactly when the setup opens it (but where
// the ZIP library refuses on its own, or too many end records make the setup stop looking), list
// the same names with their data at the same places, and whenever extraction succeeds, what it
// wrote must be byte for byte what that reading gives, unless that reading, with zlib, refused a
// Huffman code that the setup's inflater may read.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <algorithm>
#include <set>
#include <span>
#include <string>

#include "payload/archive.hpp"
#include "payload/entry.hpp"
#include "payload/entry_path.hpp"
#include "platform/fs.hpp"
#include "platform/utf8.hpp"
#include "support/reference_zip.hpp"

namespace {

std::set<std::string> names_in(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// What a folder holds, below it: "/" for a folder, "-> target" for a link, the content for a file.
using Tree = std::map<std::string, std::string>;
void snapshot(const std::string& dir, const std::string& prefix, Tree& tree) {
  for (const std::string& name : names_in(dir)) {
    if (name == "." || name == "..") continue;
    const std::string path = dir + "/" + name;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) std::abort();
    if (S_ISLNK(st.st_mode)) {
      std::string target(4096, '\0');
      target.resize(static_cast<std::size_t>(readlink(path.c_str(), target.data(), target.size())));
      tree[prefix + name] = "-> " + target;
    } else if (S_ISDIR(st.st_mode)) {
      tree[prefix + name] = "/";
      snapshot(path, prefix + name + "/", tree);
    } else {
      tree[prefix + name] = read_file(path);
    }
  }
}

// What extraction into a folder holding only `link` must give, from the reference reading; none
// when some entry could not be extracted there (then the setup must have failed too).
std::optional<Tree> expected_tree(const std::vector<test_support::ReferenceEntry>& entries, const std::string& link) {
  Tree tree{{"link", link}};
  for (const auto& e : entries) {
    payload::Entry entry;
    entry.name = e.listed_name;
    entry.encrypted = (e.flags & 1) != 0;
    entry.method = e.method;
    entry.aes = payload::find_extra_field(e.extra, 0x9901).has_value();
    entry.host_system = static_cast<std::uint8_t>(e.version_made_by >> 8);
    entry.external_attributes = e.external_attributes;
    if (payload::entry_refusal(entry)) return std::nullopt;
    const auto components = payload::simplified_components(entry.name);
    if (!components || !e.data) return std::nullopt;
    std::string path;
    for (std::size_t k = 0; k < components->size(); ++k) {
      path += (k ? "/" : "") + (*components)[k];
      const auto found = tree.find(path);
      const bool last = k + 1 == components->size();
      if (found != tree.end() && found->second.starts_with("-> ")) return std::nullopt;  // links are refused
      if (last) break;
      if (found == tree.end()) tree[path] = "/";
      else if (found->second != "/") return std::nullopt;  // a file where a folder must be
    }
    const auto kind = payload::entry_kind(entry);
    const auto at = tree.find(path);
    if (kind == payload::EntryKind::Directory) {
      if (!path.empty() && at != tree.end() && at->second != "/") return std::nullopt;
      if (!path.empty()) tree[path] = "/";
    } else if (kind == payload::EntryKind::File) {
      if (path.empty() || (at != tree.end() && at->second == "/")) return std::nullopt;
      tree[path] = *e.data;
    } else {
      if (path.empty() || at != tree.end() || !platform::utf8::is_valid(*e.data) || e.data->size() > 64 * 1024) {
        return std::nullopt;
      }
      tree[path] = "-> " + *e.data;
    }
  }
  return tree;
}

bool same_listing(std::span<const payload::Entry> listed, const std::vector<test_support::ReferenceEntry>& reference) {
  return std::ranges::equal(listed, reference, [](const payload::Entry& a, const test_support::ReferenceEntry& b) {
    return a.name == b.listed_name && a.data_offset == b.data_offset && a.compressed_size == b.compressed_size;
  });
}

// The refusals that are the setup's own reading, rather than the ZIP library's strictness or the
// bound on end records read.
bool our_own_refusal(const payload::ArchiveError& error) {
  for (const char* detail : {"Could not find EOCD", "Multi-disk ZIP files are not supported",
                             "Ambiguous central directory", "Duplicate file path", "Ambiguous file name",
                             "Ambiguous file type"}) {
    if (error == payload::ArchiveError::invalid(detail)) return true;
  }
  return false;
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
    if (read_file(outside + "/sentinel") != "untouched") std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Scratch scratch;
  scratch.reset();
  const auto bytes = std::as_bytes(std::span(data, size));
  auto archive = payload::open_archive(bytes);
  const auto reference = test_support::reference_read(bytes);
  if (archive) {
    // The setup read an archive the reference finds no one reading of, or lists it otherwise.
    if (!reference || !same_listing(payload::archive_entries(*archive), *reference)) std::abort();
  } else if (reference && our_own_refusal(archive.error())) {
    std::abort();  // the setup refused an archive that reads one way
  }
  const bool extracted = archive && payload::extract_all(*archive, scratch.destination).has_value();
  scratch.check();
  if (extracted) {
    if (std::ranges::any_of(*reference, &test_support::ReferenceEntry::undecided)) return 0;
    const auto expected = expected_tree(*reference, "-> " + scratch.outside);
    Tree found;
    snapshot(scratch.destination, "", found);
    if (!expected || found != *expected) std::abort();
  }
  return 0;
}
