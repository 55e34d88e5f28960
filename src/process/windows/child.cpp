// Child processes on Windows: CreateProcessW with inheritable duplicates of the setup's standard
// handles, its console, environment block and current directory.
#include <windows.h>

#include <cstring>
#include <mutex>

#include "platform/runtime.hpp"
#include "platform/windows/native.hpp"
#include "process/child.hpp"
#include "process/command_line.hpp"

namespace process {

using platform::windows::UniqueHandle;

struct ChildProcess::State {
  UniqueHandle process;
  UniqueHandle thread;
};

ChildProcess::ChildProcess(std::unique_ptr<State> state) : state_(std::move(state)) {}
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;
ChildProcess::~ChildProcess() = default;

namespace {

// Keeps the inheritable duplicates made for one child from leaking into a child that another
// thread creates at the same moment: CreateProcessW passes on every inheritable handle.
std::mutex child_creation_lock;

static_assert(sizeof(STARTUPINFOW) == 104);

platform::Result<std::u16string> full_path(std::u16string_view path) {
  const std::wstring terminated = platform::windows::to_wstring(path);
  auto full = platform::windows::query_wide_string(
      [&](wchar_t* buffer, DWORD size) { return ::GetFullPathNameW(terminated.c_str(), size, buffer, nullptr); });
  if (!full) return std::unexpected(full.error());
  return platform::windows::to_u16string(*full);
}

template <typename Call>
std::optional<std::string> folder_query(Call&& call) {
  auto value = platform::windows::query_wide_string(call);
  if (!value) return std::nullopt;
  return platform::windows::utf8_from_wide(*value);
}

ProgramQueries system_queries() {
  return ProgramQueries{
      .exists =
          [](std::u16string_view name) {
            const std::wstring terminated = platform::windows::to_wstring(name);
            return ::GetFileAttributesW(terminated.c_str()) != INVALID_FILE_ATTRIBUTES;
          },
      .executable_path =
          [] {
            return folder_query([](wchar_t* buffer, DWORD size) { return ::GetModuleFileNameW(nullptr, buffer, size); });
          },
      .system_directory =
          [] { return folder_query([](wchar_t* buffer, DWORD size) { return ::GetSystemDirectoryW(buffer, size); }); },
      .windows_directory =
          [] { return folder_query([](wchar_t* buffer, DWORD size) { return ::GetWindowsDirectoryW(buffer, size); }); },
      .path_variable = [] { return platform::environment_variable("PATH"); },
      .full_path = full_path,
  };
}

}  // namespace

platform::Result<ChildProcess> start_child(const ChildCommand& command) {
  const auto name = resolve_program(command.program, system_queries());
  if (!name) return std::unexpected(name.error());
  if (auto allowed = refuse_batch_script(*name, full_path); !allowed) return std::unexpected(allowed.error());
  const auto line = build_command_line(command.program, command.arguments);
  if (!line) return std::unexpected(line.error());
  const std::wstring application = platform::windows::to_wstring(*name);
  std::wstring command_line = platform::windows::to_wstring(*line);

  std::lock_guard lock(child_creation_lock);
  // Declared inside the lock, so every duplicate is closed before it is released.
  UniqueHandle duplicates[3];
  const DWORD streams[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  bool any = false;
  for (int i = 0; i < 3; ++i) {
    const HANDLE handle = ::GetStdHandle(streams[i]);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) continue;
    HANDLE duplicate = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &duplicate, 0, TRUE,
                           DUPLICATE_SAME_ACCESS)) {
      return std::unexpected(platform::windows::last_os_error());
    }
    duplicates[i].reset(duplicate);
    any = true;
  }

  STARTUPINFOW startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (any) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = duplicates[0].get();
    startup.hStdOutput = duplicates[1].get();
    startup.hStdError = duplicates[2].get();
  }
  PROCESS_INFORMATION created;
  std::memset(&created, 0, sizeof created);
  const BOOL started = ::CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &created);
  const DWORD error = ::GetLastError();
  for (auto& duplicate : duplicates) duplicate.reset();
  if (!started) return std::unexpected(platform::PlatformError::os(error));

  auto state = std::make_unique<ChildProcess::State>();
  state->process.reset(created.hProcess);
  state->thread.reset(created.hThread);
  return ChildProcess(std::move(state));
}

platform::Result<std::uint32_t> run_child(const ChildCommand& command) {
  auto child = start_child(command);
  if (!child) return std::unexpected(child.error());
  const HANDLE process = child->state().process.get();
  if (::WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) {
    const auto error = platform::windows::last_os_error();
    release_child(std::move(*child));
    return std::unexpected(error);
  }
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) {
    const auto error = platform::windows::last_os_error();
    release_child(std::move(*child));
    return std::unexpected(error);
  }
  release_child(std::move(*child));
  return static_cast<std::uint32_t>(code);
}

void release_child(ChildProcess child) {
  auto& state = child.state();
  state.process.reset();
  state.thread.reset();
}

}  // namespace process
