// The child launcher on Windows: CreateProcessW with inheritable handles for the standard streams,
// this process's environment changed for the time of the start, output into files in a fresh
// folder.
#include "system/child_capture.hpp"

#include <windows.h>

#include <stdexcept>
#include <string_view>
#include <utility>

namespace platform_test {

namespace {

[[noreturn]] void fail(const char* what) {
  throw std::runtime_error(std::string(what) + " failed with " + std::to_string(::GetLastError()));
}

void check(bool ok, const char* what) {
  if (!ok) fail(what);
}

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ~Handle() { reset(); }
  Handle(Handle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset() {
    if (handle_ != nullptr) ::CloseHandle(std::exchange(handle_, nullptr));
  }

 private:
  HANDLE handle_ = nullptr;
};

std::wstring wide(std::string_view text) {
  if (text.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0);
  check(size > 0, "MultiByteToWideChar");
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), result.data(),
                        size);
  return result;
}

std::wstring this_program() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    check(length != 0, "GetModuleFileNameW");
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void check_plain_word(const std::string& argument) {
  if (argument.empty() || argument.find_first_of(" \t\"") != std::string::npos) {
    throw std::invalid_argument("a child argument must be a plain word: '" + argument + "'");
  }
}

Handle inheritable_file(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  Handle file(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                            disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  check(static_cast<bool>(file), "CreateFileW");
  return file;
}

std::string read_file(const std::wstring& path) {
  Handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  check(static_cast<bool>(file), "CreateFileW");
  std::string content;
  char chunk[4096];
  DWORD read = 0;
  while (::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) content.append(chunk, read);
  return content;
}

void write_file(const std::wstring& path, std::string_view bytes) {
  Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  check(static_cast<bool>(file), "CreateFileW");
  DWORD written = 0;
  check(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size(),
        "WriteFile");
}

// A pipe whose one end is closed at once; the other end is given back, inheritable.
Handle half_pipe(bool keep_writer) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  check(::CreatePipe(&reader, &writer, &inherit, 0), "CreatePipe");
  Handle read_end(reader);
  Handle write_end(writer);
  return keep_writer ? std::move(write_end) : std::move(read_end);
}

// A fresh folder for the child's stream files, removed with them at the end.
class Scratch {
 public:
  Scratch() {
    static unsigned runs = 0;
    wchar_t temp[MAX_PATH + 1];
    check(::GetTempPathW(MAX_PATH + 1, temp) != 0, "GetTempPathW");
    dir_ = std::wstring(temp) + L"zarvo-child-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(++runs) + L"-" + std::to_wstring(::GetTickCount64());
    check(::CreateDirectoryW(dir_.c_str(), nullptr), "CreateDirectoryW");
  }
  ~Scratch() {
    for (const wchar_t* name : {L"in", L"out", L"err"}) ::DeleteFileW(path(name).c_str());
    ::RemoveDirectoryW(dir_.c_str());
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::wstring path(const wchar_t* name) const { return dir_ + L"\\" + name; }

 private:
  std::wstring dir_;
};

// Changes this process's environment, which the child inherits, and puts it back at the end.
class EnvironmentChange {
 public:
  explicit EnvironmentChange(const ChildRequest& request) {
    for (const auto& [name, value] : request.environment) {
      const std::wstring wide_name = wide(name);
      saved_.emplace_back(wide_name, current(wide_name));
      check(::SetEnvironmentVariableW(wide_name.c_str(), value ? wide(*value).c_str() : nullptr) ||
                (!value && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND),
            "SetEnvironmentVariableW");
    }
  }
  ~EnvironmentChange() {
    // Backwards, so that a name changed twice ends as it was before the first change.
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      ::SetEnvironmentVariableW(it->first.c_str(), it->second ? it->second->c_str() : nullptr);
    }
  }
  EnvironmentChange(const EnvironmentChange&) = delete;
  EnvironmentChange& operator=(const EnvironmentChange&) = delete;

 private:
  static std::optional<std::wstring> current(const std::wstring& name) {
    std::wstring value(64, L'\0');
    for (;;) {
      ::SetLastError(ERROR_SUCCESS);
      const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
      if (length == 0) {
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        check(::GetLastError() == ERROR_SUCCESS, "GetEnvironmentVariableW");
        return std::wstring();
      }
      if (length < value.size()) {
        value.resize(length);
        return value;
      }
      value.resize(length);
    }
  }

  std::vector<std::pair<std::wstring, std::optional<std::wstring>>> saved_;
};

}  // namespace

ChildCapture run_child(const ChildRequest& request) {
  const std::wstring program = request.program.empty() ? this_program() : wide(request.program);
  std::wstring command_line = L"\"" + program + L"\"";
  for (const std::string& argument : request.arguments) {
    check_plain_word(argument);
    command_line += L" " + wide(argument);
  }

  const Scratch scratch;
  const std::wstring in_path = scratch.path(L"in"), out_path = scratch.path(L"out"), err_path = scratch.path(L"err");
  ChildCapture capture;
  {
    Handle input;
    switch (request.input) {
      case ChildInput::empty:
        input = inheritable_file(L"NUL", GENERIC_READ, OPEN_EXISTING);
        break;
      case ChildInput::bytes:
        write_file(in_path, request.input_bytes);
        input = inheritable_file(in_path, GENERIC_READ, OPEN_EXISTING);
        break;
      case ChildInput::closed:
        break;
      case ChildInput::pipe_writer_gone:
        input = half_pipe(false);
        break;
    }
    Handle output;
    switch (request.output) {
      case ChildOutput::captured:
        output = inheritable_file(out_path, GENERIC_WRITE, CREATE_ALWAYS);
        break;
      case ChildOutput::closed:
        break;
      case ChildOutput::pipe_reader_gone:
        output = half_pipe(true);
        break;
    }
    Handle error = inheritable_file(err_path, GENERIC_WRITE, CREATE_ALWAYS);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output.get();
    startup.hStdError = error.get();
    PROCESS_INFORMATION started{};
    {
      const EnvironmentChange changed(request);
      check(::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                             &startup, &started),
            "CreateProcessW");
    }
    Handle process(started.hProcess);
    Handle thread(started.hThread);
    // The child has its copies; ours must not keep a pipe alive or a file open.
    input.reset();
    output.reset();
    error.reset();

    check(::WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0, "WaitForSingleObject");
    DWORD code = 0;
    check(::GetExitCodeProcess(process.get(), &code), "GetExitCodeProcess");
    capture.exited = true;
    capture.status = code;
  }
  if (request.output == ChildOutput::captured) capture.out = read_file(out_path);
  capture.err = read_file(err_path);
  return capture;
}

}  // namespace platform_test
