// Child processes on Windows: CreateProcessW with the setup's console and environment block, and
// either inheritable duplicates of its standard handles (the only handles the child may inherit)
// and its current directory, or no handle at all and the program's own folder.
#include <windows.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/runtime.hpp"
#include "platform/text.hpp"
#include "platform/windows/native.hpp"
#include "process/child.hpp"
#include "process/command_line.hpp"
#include "process/interrupt_window.hpp"

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

// Keeps the "No disk" box (and other critical-error boxes) from showing while the search looks
// at PATH entries on empty removable drives: the call fails quietly instead. The thread's mode is
// not passed on to children, unlike the process's.
class CriticalErrorsFailQuietly {
 public:
  CriticalErrorsFailQuietly() { ::SetThreadErrorMode(::GetThreadErrorMode() | SEM_FAILCRITICALERRORS, &previous_); }
  ~CriticalErrorsFailQuietly() { ::SetThreadErrorMode(previous_, nullptr); }
  CriticalErrorsFailQuietly(const CriticalErrorsFailQuietly&) = delete;
  CriticalErrorsFailQuietly& operator=(const CriticalErrorsFailQuietly&) = delete;

 private:
  DWORD previous_ = 0;
};

// Ctrl+C and Ctrl+Break reach every process on the console. While the setup waits for its child
// (and a moment after) they are the child's to answer, and the setup waits on for its exit code;
// otherwise, and for closing the window, logging off and shutting down, the handler passes the
// event on to the default one, which ends the setup.
InterruptWindow interrupt_window;

BOOL WINAPI leave_interrupts_to_the_child(DWORD event) {
  const bool interrupt = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  return interrupt_window.leaves_to_child(interrupt, ::GetTickCount64());
}

// A handler routine rather than the "ignore Ctrl+C" flag, which children would inherit. It stays
// installed once installed: outside the window it answers as if it were not there.
class InterruptsLeftToTheChild {
 public:
  InterruptsLeftToTheChild() {
    static const bool installed = ::SetConsoleCtrlHandler(leave_interrupts_to_the_child, TRUE) != FALSE;
    (void)installed;
    interrupt_window.open();
  }
  ~InterruptsLeftToTheChild() { interrupt_window.close(::GetTickCount64()); }
  InterruptsLeftToTheChild(const InterruptsLeftToTheChild&) = delete;
  InterruptsLeftToTheChild& operator=(const InterruptsLeftToTheChild&) = delete;
};

// The handles a child may inherit, as the process attribute that restricts inheritance to them.
// Empty (no attribute) when there are none or the attribute cannot be made.
class InheritedHandles {
 public:
  explicit InheritedHandles(std::span<const HANDLE> handles) {
    for (const HANDLE handle : handles) {
      if (handle != nullptr) handles_.push_back(handle);  // fresh duplicates: never the same twice
    }
    if (handles_.empty()) return;
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    const auto list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    list_ = list;
    if (!::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                     handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
      release();
    }
  }
  ~InheritedHandles() { release(); }
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;

  bool any() const { return !handles_.empty(); }
  LPPROC_THREAD_ATTRIBUTE_LIST attribute_list() const { return list_; }

 private:
  void release() {
    if (list_ != nullptr) ::DeleteProcThreadAttributeList(list_);
    list_ = nullptr;
  }
  std::vector<HANDLE> handles_;
  std::vector<std::uint64_t> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

}  // namespace

platform::Result<ChildProcess> start_child(const ChildCommand& command) {
  const auto application = [&] {
    const CriticalErrorsFailQuietly quiet;
    return resolve_program<wchar_t>(command.program, system_queries(), command.system_fallback);
  }();
  if (!application) return std::unexpected(application.error());
  if (auto allowed = refuse_batch_script<wchar_t>(*application, platform::windows::full_path_name); !allowed) {
    return std::unexpected(allowed.error());
  }
  auto command_line = build_command_line<wchar_t>(command.program, command.arguments);
  if (!command_line) return std::unexpected(command_line.error());

  STARTUPINFOW startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created;
  std::memset(&created, 0, sizeof created);

  if (command.start == ChildStart::OnItsOwn) {
    // Nothing inheritable is made, so another thread's child cannot catch anything: no lock.
    const auto folder = own_folder<wchar_t>(*application);
    if (!::CreateProcessW(application->c_str(), command_line->data(), nullptr, nullptr, FALSE,
                          CREATE_UNICODE_ENVIRONMENT, nullptr, folder ? folder->c_str() : nullptr, &startup, &created)) {
      return std::unexpected(platform::windows::last_os_error());
    }
    return ChildProcess(UniqueHandle(created.hProcess), UniqueHandle(created.hThread));
  }

  std::lock_guard lock(child_creation_lock);
  // Declared inside the lock, so every duplicate is closed before it is released.
  UniqueHandle duplicates[3];
  const DWORD streams[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  for (int i = 0; i < 3; ++i) {
    const HANDLE handle = ::GetStdHandle(streams[i]);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) continue;
    HANDLE duplicate = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &duplicate, 0, TRUE,
                           DUPLICATE_SAME_ACCESS)) {
      return std::unexpected(platform::windows::last_os_error());
    }
    duplicates[i].reset(duplicate);
  }
  const HANDLE given[3] = {duplicates[0].get(), duplicates[1].get(), duplicates[2].get()};
  const InheritedHandles inherited(given);
  if (inherited.any()) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = given[0];
    startup.hStdOutput = given[1];
    startup.hStdError = given[2];
  }

  const bool listed = inherited.attribute_list() != nullptr;
  BOOL started = FALSE;
  DWORD error = 0;
  if (listed) {
    STARTUPINFOEXW extended;
    std::memset(&extended, 0, sizeof extended);
    extended.StartupInfo = startup;
    extended.StartupInfo.cb = sizeof extended;
    extended.lpAttributeList = inherited.attribute_list();
    started = ::CreateProcessW(application->c_str(), command_line->data(), nullptr, nullptr, TRUE,
                               CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                               &extended.StartupInfo, &created);
    error = ::GetLastError();
  }
  // A system that refuses the list (Windows 7 could not list console handles, which were not
  // real handles there) or could not make it starts the child letting it inherit every
  // inheritable handle: the setup makes none besides the duplicates. With no standard handle at
  // all there is nothing to inherit.
  if (!listed || (!started && error == ERROR_INVALID_PARAMETER)) {
    started = ::CreateProcessW(application->c_str(), command_line->data(), nullptr, nullptr, inherited.any(),
                               CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &created);
    error = ::GetLastError();
  }
  for (auto& duplicate : duplicates) duplicate.reset();
  if (!started) return std::unexpected(platform::PlatformError::os(error));
  return ChildProcess(UniqueHandle(created.hProcess), UniqueHandle(created.hThread));
}

platform::Result<std::uint32_t> run_child(const ChildCommand& command) {
  const InterruptsLeftToTheChild interrupts;  // from just before the start until after the wait
  auto child = start_child(command);
  if (!child) return std::unexpected(child.error());
  const HANDLE process = child->process_.get();
  if (::WaitForSingleObject(process, INFINITE) != WAIT_OBJECT_0) return std::unexpected(platform::windows::last_os_error());
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return std::unexpected(platform::windows::last_os_error());
  return static_cast<std::uint32_t>(code);
}

}  // namespace process
