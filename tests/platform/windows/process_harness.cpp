// The process harness on Windows: SetEnvironmentVariableW, CreateProcessW of this program with
// its output in inheritable files.
#include "platform/process_harness.hpp"

#include <deque>
#include <stdexcept>

#include "platform/path.hpp"
#include "platform/runtime.hpp"
#include "platform/windows/native.hpp"

namespace platform_test {

namespace {

using platform::windows::UniqueHandle;

std::wstring wide(const std::string& text) { return platform::windows::wide_from_utf8(text).value(); }

UniqueHandle create_inheritable(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  UniqueHandle file(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw std::runtime_error("cannot open a fixture stream file");
  return file;
}

std::string read_and_remove(const std::wstring& path) {
  std::string text;
  {
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr));
    char buffer[4096];
    DWORD read = 0;
    while (file && ::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) text.append(buffer, read);
  }
  ::DeleteFileW(path.c_str());
  return text;
}

}  // namespace

void set_variable(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    ::SetEnvironmentVariableW(wide(name).c_str(), wide(*value).c_str());
  } else {
    ::SetEnvironmentVariableW(wide(name).c_str(), nullptr);
  }
}

std::uint32_t process_id_from_system() { return ::GetProcessId(::GetCurrentProcess()); }

ChildResult run_fixture(const std::string& scenario,
                        const std::vector<std::pair<std::string, std::string>>& variables) {
  static int runs = 0;
  const std::string stem = platform::temp_directory() + "zarvo-fixture-" +
                           std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++runs);
  const std::wstring out_path = wide(stem + ".out");
  const std::wstring err_path = wide(stem + ".err");
  const std::wstring program =
      platform::windows::query_wide_string([](wchar_t* buffer, DWORD size) {
        return ::GetModuleFileNameW(nullptr, buffer, size);
      }).value();

  ChildResult result;
  {
    UniqueHandle input = create_inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
    UniqueHandle output = create_inheritable(out_path, GENERIC_WRITE, CREATE_ALWAYS);
    UniqueHandle error = create_inheritable(err_path, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output.get();
    startup.hStdError = error.get();
    std::wstring command_line = L"\"" + program + L"\"";

    // The child inherits this process's environment, changed for the time of the start only.
    std::deque<ScopedVariable> changed;
    changed.emplace_back("ZARVO_PLATFORM_FIXTURE", scenario);
    for (const auto& [name, value] : variables) changed.emplace_back(name, value);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &started)) {
      throw std::runtime_error("CreateProcessW failed");
    }
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
    ::WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    result.exited = true;
    result.status = code;
  }
  result.out = read_and_remove(out_path);
  result.err = read_and_remove(err_path);
  return result;
}

}  // namespace platform_test
