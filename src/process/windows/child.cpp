// Child processes on Windows: CreateProcessW with inheritable duplicates of the setup's standard
// handles, its console, environment block and current directory.
#include <windows.h>

#include <cstring>
#include <mutex>

#include "platform/runtime.hpp"
#include "platform/text.hpp"
#include "platform/windows/native.hpp"
#include "process/child.hpp"
#include "process/command_line.hpp"

namespace process {

using platform::windows::UniqueHandle;

namespace {

// Keeps the inheritable duplicates made for one child from leaking into a child that another
// thread creates at the same moment: CreateProcessW passes on every inheritable handle.
std::mutex child_creation_lock;

static_assert(sizeof(STARTUPINFOW) == 104);

template <typename Call>
std::optional<std::wstring> folder_query(Call&& call) {
  auto value = platform::windows::query_wide_string(call);
  if (!value) return std::nullopt;
  return std::move(*value);
}

ProgramQueries<wchar_t> system_queries() {
  return ProgramQueries<wchar_t>{
      .exists =
          [](std::wstring_view name) {
            const std::wstring terminated(name);
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
      .path_variable =
          []() -> std::optional<std::wstring> {
            const auto value = platform::environment_variable("PATH");
            if (!value) return std::nullopt;
            return platform::to_utf16_unchecked<wchar_t>(*value);
          },
      .full_path = platform::windows::full_path_name,
  };
}

}  // namespace

platform::Result<ChildProcess> start_child(const ChildCommand& command) {
  const auto application = resolve_program<wchar_t>(command.program, system_queries());
  if (!application) return std::unexpected(application.error());
  if (auto allowed = refuse_batch_script<wchar_t>(*application, platform::windows::full_path_name); !allowed) {
    return std::unexpected(allowed.error());
  }
  auto command_line = build_command_line<wchar_t>(command.program, command.arguments);
  if (!command_line) return std::unexpected(command_line.error());

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
  const BOOL started = ::CreateProcessW(application->c_str(), command_line->data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &created);
  const DWORD error = ::GetLastError();
  for (auto& duplicate : duplicates) duplicate.reset();
  if (!started) return std::unexpected(platform::PlatformError::os(error));

  return ChildProcess(UniqueHandle(created.hProcess), UniqueHandle(created.hThread));
}

platform::Result<std::uint32_t> run_child(const ChildCommand& command) {
  auto child = start_child(command);
  if (!child) return std::unexpected(child.error());
  const HANDLE process = child->process_.get();
  if (::WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) return std::unexpected(platform::windows::last_os_error());
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return std::unexpected(platform::windows::last_os_error());
  return static_cast<std::uint32_t>(code);
}

}  // namespace process
