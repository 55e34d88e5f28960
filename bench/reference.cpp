// The floor for extraction speed: only what any extractor must do. Maps the archive, walks its
// central directory, and for each entry inflates the raw DEFLATE data, computes its CRC-32 and
// writes it out, making folders on the way. No checks beyond the CRC, no path rule. Two
// inflaters: zlib (inflate, then crc32 over each chunk) and ISA-L (streaming isal_inflate with
// the CRC-32 computed as it inflates), both in 256 KiB output chunks.
//
// Build: g++ -O2 -std=c++20 bench/reference.cpp -lz -lisal -o reference
// Usage: reference zlib|isal <archive.zip> <folder>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <isa-l/igzip_lib.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t chunk = 256 * 1024;

std::uint32_t u16(const unsigned char* p) { return p[0] | (p[1] << 8); }
std::uint32_t u32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24); }

[[noreturn]] void die(const char* what) {
  std::fprintf(stderr, "reference: %s: %s\n", what, std::strerror(errno));
  std::exit(1);
}

void make_parents(const std::string& path) {
  for (std::size_t i = path.find('/', 1); i != std::string::npos; i = path.find('/', i + 1)) {
    if (mkdir(path.substr(0, i).c_str(), 0777) != 0 && errno != EEXIST) die("mkdir");
  }
}

void write_all(int fd, const unsigned char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t w = write(fd, data, n);
    if (w <= 0) die("write");
    data += w;
    n -= static_cast<std::size_t>(w);
  }
}

// Each writes the entry's data to `fd` and gives its CRC-32, or none when it cannot inflate it.
using Inflate = bool (*)(const unsigned char* data, std::uint32_t size, int fd, std::vector<unsigned char>& out,
                         std::uint32_t& crc);

bool inflate_zlib(const unsigned char* data, std::uint32_t size, int fd, std::vector<unsigned char>& out,
                  std::uint32_t& crc_out) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<unsigned char*>(data);
  z.avail_in = size;
  uLong crc = crc32(0, nullptr, 0);
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    z.next_out = out.data();
    z.avail_out = chunk;
    result = inflate(&z, Z_NO_FLUSH);
    if (result != Z_OK && result != Z_STREAM_END) return false;
    const std::size_t n = chunk - z.avail_out;
    crc = crc32(crc, out.data(), static_cast<uInt>(n));
    write_all(fd, out.data(), n);
  }
  inflateEnd(&z);
  crc_out = static_cast<std::uint32_t>(crc);
  return true;
}

bool inflate_isal(const unsigned char* data, std::uint32_t size, int fd, std::vector<unsigned char>& out,
                  std::uint32_t& crc_out) {
  static inflate_state state;
  isal_inflate_init(&state);
  state.crc_flag = ISAL_GZIP_NO_HDR;
  state.next_in = const_cast<unsigned char*>(data);
  state.avail_in = size;
  while (state.block_state != ISAL_BLOCK_FINISH) {
    state.next_out = out.data();
    state.avail_out = chunk;
    if (isal_inflate(&state) != ISAL_DECOMP_OK) return false;
    const std::size_t n = chunk - state.avail_out;
    if (n == 0 && state.block_state != ISAL_BLOCK_FINISH) return false;  // the input ended early
    write_all(fd, out.data(), n);
  }
  crc_out = state.crc;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc == 4 ? argv[1] : "";
  if (mode != "zlib" && mode != "isal") {
    std::fprintf(stderr, "usage: reference zlib|isal <archive.zip> <folder>\n");
    return 2;
  }
  const Inflate inflate_entry = mode == "zlib" ? inflate_zlib : inflate_isal;
  const int in = open(argv[2], O_RDONLY);
  if (in < 0) die("open");
  struct stat st {};
  fstat(in, &st);
  const auto size = static_cast<std::size_t>(st.st_size);
  auto* zip = static_cast<const unsigned char*>(mmap(nullptr, size, PROT_READ, MAP_PRIVATE, in, 0));
  if (zip == MAP_FAILED) die("mmap");

  const unsigned char* end = zip + size - 22;  // no archive comment
  const std::uint32_t count = u16(end + 10);
  const unsigned char* record = zip + u32(end + 16);
  const std::string base = std::string(argv[3]) + "/";
  std::vector<unsigned char> out(chunk);

  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t crc_expected = u32(record + 16);
    const std::uint32_t compressed = u32(record + 20);
    const std::uint32_t name_length = u16(record + 28);
    std::string name(reinterpret_cast<const char*>(record + 46), name_length);
    for (char& c : name) c = c == '\\' ? '/' : c;
    const unsigned char* local = zip + u32(record + 42);
    const unsigned char* data = local + 30 + u16(local + 26) + u16(local + 28);
    record += 46 + name_length + u16(record + 30) + u16(record + 32);

    const std::string path = base + name;
    make_parents(path);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) die("create");

    std::uint32_t crc = 0;
    if (!inflate_entry(data, compressed, fd, out, crc)) {
      std::fprintf(stderr, "reference: %s: inflate failed\n", name.c_str());
      return 1;
    }
    close(fd);
    if (crc != crc_expected) {
      std::fprintf(stderr, "reference: %s: CRC mismatch\n", name.c_str());
      return 1;
    }
  }
  return 0;
}
