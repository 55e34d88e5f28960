// Opening time against the number of end records: one local entry, 5,000 central records of it,
// then 1, 100 or 2,900 end records that all declare that directory. Opening must read the bytes a
// bounded number of times whatever the count, so the times stay level (ratio to one end record
// about 1). For comparison, the ZIP library opening the same bytes by itself, which reads the
// whole directory again for every end record it finds (only up to 100 of them: 2,900 take minutes).
//
// Run: build/host/open_bench [runs]   (host lane; built with the tests)
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "payload/archive.hpp"
#include "support/zip_builder.hpp"

namespace {

using Clock = std::chrono::steady_clock;

std::string archive_with_end_records(int copies) {
  const test_support::ZipEntry entry{.name = "data.bin", .data = "payload", .method = 0};
  std::string bytes = test_support::local_entry(entry);
  std::string directory;
  for (int i = 0; i < 5000; ++i) directory += test_support::central_record(entry, 0);
  const std::string end = test_support::end_record(5000, static_cast<std::uint32_t>(directory.size()),
                                                   static_cast<std::uint32_t>(bytes.size()));
  bytes += directory;
  for (int i = 0; i < copies; ++i) bytes += end;
  return bytes;
}

template <typename Open>
double median_ms(int runs, Open open) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    if (!open()) {
      std::fprintf(stderr, "open failed\n");
      std::exit(1);
    }
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::ranges::sort(times);
  return times[times.size() / 2];
}

bool open_with_setup(const std::string& bytes) {
  return payload::open_archive(std::as_bytes(std::span(bytes.data(), bytes.size()))).has_value();
}

bool open_with_library_alone(const std::string& bytes) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  zip_t* zip = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
  if (zip == nullptr && source) zip_source_free(source);
  if (zip) zip_discard(zip);
  zip_error_fini(&error);
  return zip != nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 9;
  double reference = 0;
  std::printf("%-26s %10s %12s %8s %16s\n", "archive", "bytes", "open (ms)", "ratio", "library alone");
  for (const int copies : {1, 100, 2900}) {
    const std::string bytes = archive_with_end_records(copies);
    const double ms = median_ms(runs, [&] { return open_with_setup(bytes); });
    if (copies == 1) reference = ms;
    char alone[32] = "(minutes)";
    if (copies <= 100) {
      std::snprintf(alone, sizeof alone, "%.1f ms", median_ms(std::min(runs, 3), [&] { return open_with_library_alone(bytes); }));
    }
    std::printf("5000 records x %4d ends %10zu %12.2f %8.2f %16s\n", copies, bytes.size(), ms, ms / reference,
                alone);
  }
  return 0;
}
