#include "platform/console_fixture_runner.hpp"

#include <windows.h>

#include <stdexcept>
#include <string>

#include "platform/windows/native.hpp"

namespace console_test {

namespace {

using platform::windows::UniqueHandle;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string(what) + " failed with " + std::to_string(::GetLastError()));
}

// The fixture's path as Wine sees a Unix path: on drive Z:, with backslashes.
std::wstring fixture_path() {
  std::wstring path = L"Z:";
  for (const char c : std::string_view(ZARVO_CONSOLE_FIXTURE)) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

UniqueHandle inheritable_file(const std::wstring& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  UniqueHandle file(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  &inherit, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  check(static_cast<bool>(file), "CreateFileW");
  return file;
}

std::string read_file(const std::wstring& path) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  check(static_cast<bool>(file), "CreateFileW");
  std::string content;
  char chunk[4096];
  DWORD read = 0;
  while (::ReadFile(file.get(), chunk, sizeof chunk, &read, nullptr) && read > 0) content.append(chunk, read);
  return content;
}

void write_file(const std::wstring& path, std::string_view bytes) {
  UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  check(static_cast<bool>(file), "CreateFileW");
  DWORD written = 0;
  check(::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size(),
        "WriteFile");
}

// A pipe whose one end is closed at once; the other end is given back, inheritable.
UniqueHandle half_pipe(bool keep_writer) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE reader = nullptr;
  HANDLE writer = nullptr;
  check(::CreatePipe(&reader, &writer, &inherit, 0), "CreatePipe");
  UniqueHandle read_end(reader);
  UniqueHandle write_end(writer);
  return keep_writer ? std::move(write_end) : std::move(read_end);
}

}  // namespace

FixtureRun run_fixture(std::string_view mode, Output output, Input input, std::string_view input_bytes) {
  wchar_t temp[MAX_PATH + 1];
  check(::GetTempPathW(MAX_PATH + 1, temp) != 0, "GetTempPathW");
  const std::wstring dir = std::wstring(temp) + L"console-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                           std::to_wstring(::GetTickCount64());
  check(::CreateDirectoryW(dir.c_str(), nullptr), "CreateDirectoryW");
  const std::wstring in_path = dir + L"\\in", out_path = dir + L"\\out", err_path = dir + L"\\err";
  write_file(in_path, input_bytes);

  UniqueHandle in;
  switch (input) {
    case Input::file:
      in = inheritable_file(in_path, GENERIC_READ, OPEN_EXISTING);
      break;
    case Input::closed:
      break;
    case Input::pipe_writer_gone:
      in = half_pipe(false);
      break;
  }
  UniqueHandle out;
  switch (output) {
    case Output::file:
      out = inheritable_file(out_path, GENERIC_WRITE, CREATE_ALWAYS);
      break;
    case Output::closed:
      break;
    case Output::pipe_reader_gone:
      out = half_pipe(true);
      break;
  }
  UniqueHandle err = inheritable_file(err_path, GENERIC_WRITE, CREATE_ALWAYS);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in.get();
  startup.hStdOutput = out.get();
  startup.hStdError = err.get();
  const std::wstring program = fixture_path();
  std::wstring command_line = L"\"" + program + L"\" " + std::wstring(mode.begin(), mode.end());
  // The fatal report's last line depends on it.
  ::SetEnvironmentVariableW(L"ZARVO_BACKTRACE", nullptr);
  PROCESS_INFORMATION started{};
  check(::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                         &startup, &started),
        "CreateProcessW");
  UniqueHandle process(started.hProcess);
  UniqueHandle thread(started.hThread);
  // The child has its copies; ours must not keep a pipe alive or a file open.
  in.reset();
  out.reset();
  err.reset();

  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  check(::GetExitCodeProcess(process.get(), &code), "GetExitCodeProcess");
  FixtureRun run;
  run.exit_code = code;
  if (output == Output::file) run.out = read_file(out_path);
  run.err = read_file(err_path);
  for (const auto& path : {in_path, out_path, err_path}) ::DeleteFileW(path.c_str());
  ::RemoveDirectoryW(dir.c_str());
  return run;
}

}  // namespace console_test
