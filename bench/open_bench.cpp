// Opening time against the number of end records: 5,000 small entries and their directory, whose
// last record's comment holds 1, 100 or 2,900 copies of its end record. Opening must read the bytes a bounded
// number of times whatever the count, so the times stay level (ratio to one end record about 1).
// For comparison, the ZIP library opening the same bytes by itself.
//
// Then extraction time against the number of link entries, 20,000 and 60,000: choosing each link's
// kind must not look at every entry, so three times the links take about three times as long.
//
// Run: build/host/open_bench [runs]   (host lane; built with the tests)
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "payload/archive.hpp"
#include "platform/fs.hpp"
#include "support/zip_builder.hpp"

namespace {

using Clock = std::chrono::steady_clock;

std::string archive_with_end_records(int copies) {
  std::vector<test_support::ZipEntry> entries;
  for (int i = 0; i < 5000; ++i) entries.push_back({.name = "data" + std::to_string(i), .data = "payload", .method = 0});
  return test_support::with_end_record_copies(std::move(entries), copies);
}

// `count` link entries, each to a file target, as one archive.
test_support::Zip archive_of_links(int count) {
  std::vector<test_support::ZipEntry> links;
  links.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) links.push_back(test_support::unix_link("l" + std::to_string(i), "t" + std::to_string(i)));
  return test_support::build_zip(links, {.zip64 = count > 0xFFFE});
}

double extract_links_ms(int count) {
  const test_support::Zip zip = archive_of_links(count);
  const std::string destination = "/tmp/zarvo-open-bench-" + std::to_string(getpid());
  const auto start = Clock::now();
  auto archive = payload::open_archive(zip.span());
  if (!archive || !payload::extract_all(*archive, destination)) {
    std::fprintf(stderr, "extracting %d links failed\n", count);
    std::exit(1);
  }
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  (void)platform::remove_directory_all(destination);
  return ms;
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
    char alone[32];
    std::snprintf(alone, sizeof alone, "%.1f ms", median_ms(std::min(runs, 3), [&] { return open_with_library_alone(bytes); }));
    std::printf("5000 records x %4d ends %10zu %12.2f %8.2f %16s\n", copies, bytes.size(), ms, ms / reference,
                alone);
  }
  // The file system's own work dominates and varies: the median of a few runs each.
  const auto median_links_ms = [&](int count) {
    std::vector<double> times;
    for (int i = 0; i < std::min(runs, 5); ++i) times.push_back(extract_links_ms(count));
    std::ranges::sort(times);
    return times[times.size() / 2];
  };
  const double fewer = median_links_ms(20000);
  const double more = median_links_ms(60000);
  std::printf("\n%-26s %12s\n", "link entries", "extract (ms)");
  std::printf("%-26d %12.0f\n%-26d %12.0f   ratio %.2f (linear: 3)\n", 20000, fewer, 60000, more, more / fewer);
  return 0;
}
