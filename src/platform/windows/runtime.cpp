// The process as a whole on Windows: temporary directory, process id, environment, sleeping and
// the exit.
#include "platform/runtime.hpp"

#include <atomic>

#include "platform/console/console.hpp"
#include "platform/sleep_duration.hpp"
#include "platform/windows/native.hpp"

namespace platform {

namespace {

using TempPathFunction = DWORD(WINAPI*)(DWORD, LPWSTR);

// GetTempPath2W is looked up rather than imported: an import the system lacks would stop the
// program from loading at all. The lookup gives the same answer every time, so two threads that
// race on the first use both store the same function, and no lock is needed.
TempPathFunction temp_path_function() {
  static std::atomic<TempPathFunction> chosen{nullptr};
  TempPathFunction found = chosen.load(std::memory_order_acquire);
  if (found != nullptr) return found;
  found = &::GetTempPathW;
  if (HMODULE kernel32 = ::GetModuleHandleA("kernel32")) {
    if (FARPROC newer = ::GetProcAddress(kernel32, "GetTempPath2W")) {
      found = reinterpret_cast<TempPathFunction>(reinterpret_cast<void*>(newer));
    }
  }
  chosen.store(found, std::memory_order_release);
  return found;
}

// Not in every SDK's headers.
constexpr DWORD create_waitable_timer_high_resolution = 0x2;

bool sleep_on_timer(std::uint64_t seconds, std::uint32_t nanoseconds) {
  windows::UniqueHandle timer(::CreateWaitableTimerExW(nullptr, nullptr, create_waitable_timer_high_resolution,
                                                       TIMER_ALL_ACCESS));
  if (!timer) return false;
  LARGE_INTEGER due;
  due.QuadPart = -timer_units(seconds, nanoseconds);  // negative: relative to now
  if (!::SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE)) return false;
  return ::WaitForSingleObject(timer.get(), INFINITE) == WAIT_OBJECT_0;
}

std::uint64_t elapsed_nanoseconds(const LARGE_INTEGER& since, const LARGE_INTEGER& frequency) {
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  const auto ticks = static_cast<std::uint64_t>(now.QuadPart - since.QuadPart);
  const auto per_second = static_cast<std::uint64_t>(frequency.QuadPart);
  return total_nanoseconds(ticks / per_second, (ticks % per_second) * 1'000'000'000 / per_second);
}

void sleep_in_milliseconds(std::uint64_t seconds, std::uint32_t nanoseconds) {
  LARGE_INTEGER frequency;
  LARGE_INTEGER start;
  ::QueryPerformanceFrequency(&frequency);
  ::QueryPerformanceCounter(&start);
  std::uint64_t remaining = whole_milliseconds(seconds, nanoseconds);
  while (remaining > 0) {
    const DWORD chunk = remaining < INFINITE ? static_cast<DWORD>(remaining) : INFINITE - 1;
    ::Sleep(chunk);
    remaining -= chunk;
  }
  // Sleep may wake a little early by the performance counter's measure.
  if (elapsed_nanoseconds(start, frequency) < total_nanoseconds(seconds, nanoseconds)) ::Sleep(1);
}

}  // namespace

std::string temp_directory() {
  const TempPathFunction get_temp_path = temp_path_function();
  Result<std::wstring> path =
      windows::query_wide_string([&](wchar_t* buffer, DWORD size) { return get_temp_path(size, buffer); });
  if (!path) fatal_unwrap(path.error());
  return windows::utf8_from_wide(*path);
}

std::uint32_t current_process_id() { return ::GetCurrentProcessId(); }

std::optional<std::string> environment_variable(std::string_view name) {
  Result<std::wstring> wide_name = windows::wide_from_utf8(name);
  if (!wide_name) return std::nullopt;
  Result<std::wstring> value = windows::query_wide_string(
      [&](wchar_t* buffer, DWORD size) { return ::GetEnvironmentVariableW(wide_name->c_str(), buffer, size); });
  if (!value) return std::nullopt;
  return windows::utf8_from_wide(*value);
}

void sleep_for(std::uint64_t seconds, std::uint32_t nanoseconds) {
  if (seconds == 0 && nanoseconds == 0) {
    ::Sleep(0);
    return;
  }
  if (!sleep_on_timer(seconds, nanoseconds)) sleep_in_milliseconds(seconds, nanoseconds);
}

void exit_process(std::uint32_t code) {
  static std::atomic<bool> finished{false};
  if (!finished.exchange(true)) finish_stdout();
  detail::write_coverage_counters();
  ::ExitProcess(code);
}

}  // namespace platform
