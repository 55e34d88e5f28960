// The floor for extraction speed: only what any extractor must do. Maps the archive, walks its
// central directory, and for each entry inflates the raw DEFLATE data, computes its CRC-32 and
// writes it out, making folders on the way. No checks beyond the CRC, no path rule.
//
// Build: g++ -O2 -std=c++20 bench/reference.cpp -lz -o reference
// Usage: reference <archive.zip> <folder>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: reference <archive.zip> <folder>\n");
    return 2;
  }
  const int in = open(argv[1], O_RDONLY);
  if (in < 0) die("open");
  struct stat st {};
  fstat(in, &st);
  const auto size = static_cast<std::size_t>(st.st_size);
  auto* zip = static_cast<const unsigned char*>(mmap(nullptr, size, PROT_READ, MAP_PRIVATE, in, 0));
  if (zip == MAP_FAILED) die("mmap");

  const unsigned char* end = zip + size - 22;  // no archive comment
  const std::uint32_t count = u16(end + 10);
  const unsigned char* record = zip + u32(end + 16);
  const std::string base = std::string(argv[2]) + "/";
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

    z_stream z{};
    inflateInit2(&z, -15);
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = compressed;
    uLong crc = crc32(0, nullptr, 0);
    int result = Z_OK;
    while (result != Z_STREAM_END) {
      z.next_out = out.data();
      z.avail_out = chunk;
      result = inflate(&z, Z_NO_FLUSH);
      if (result != Z_OK && result != Z_STREAM_END) {
        std::fprintf(stderr, "reference: %s: inflate failed\n", name.c_str());
        return 1;
      }
      const std::size_t n = chunk - z.avail_out;
      crc = crc32(crc, out.data(), static_cast<uInt>(n));
      write_all(fd, out.data(), n);
    }
    inflateEnd(&z);
    close(fd);
    if (crc != crc_expected) {
      std::fprintf(stderr, "reference: %s: CRC mismatch\n", name.c_str());
      return 1;
    }
  }
  return 0;
}
