// The process as a whole: temporary directory, process id, environment, sleeping, start-up,
// fatal stops and the exit.
#pragma once

#include <cstdint>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>

#include "platform/error.hpp"

namespace platform {

// The user's temporary directory, exactly as the system gives it. A failure is a fatal stop.
std::string temp_directory();
std::uint32_t current_process_id();
// The variable's value (possibly empty), or none when it is unset or cannot be read.
std::optional<std::string> environment_variable(std::string_view name);
void sleep_for(std::uint64_t seconds, std::uint32_t nanoseconds);

// Flushes standard output once, then ends the process with the code.
[[noreturn]] void exit_process(std::uint32_t code);

// Prepares the process (thread name, crash handlers), runs `body` and exits with its result.
[[noreturn]] void start(std::uint32_t (*body)());

// A failed runtime check: writes the fatal report to standard error and exits with code 101.
[[noreturn]] void fatal_stop(std::string_view message,
                             std::source_location where = std::source_location::current());
// The fatal stop of a failed unwrapping: "called `Result::unwrap()` on an `Err` value: ...".
[[noreturn]] void fatal_unwrap(const PlatformError& error,
                               std::source_location where = std::source_location::current());

namespace detail {

#ifdef ZARVO_COVERAGE
extern "C" void __gcov_dump();
#endif

// A coverage build writes its gcov counters out here, right before the process ends: the C
// library's exit, which would write them, is not how the process ends (nor is it after an abort
// or a stack overflow). A second call writes nothing. Nothing at all in other builds.
inline void write_coverage_counters() {
#ifdef ZARVO_COVERAGE
  __gcov_dump();
#endif
}

}  // namespace detail

}  // namespace platform
