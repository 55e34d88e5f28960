// Replacing calls this program makes into system DLLs, in this process only. The backend is
// linked into the test program, so its calls go through the program's import table; a Hook
// swaps one entry of that table for a trampoline that runs the test's behaviour, restoring the
// entry when the guard goes. Calls the system DLLs make among themselves are not affected.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

namespace faults {

// Points every import-table entry of `module`!`function` at `replacement` for the guard's life.
class ImportPatch {
 public:
  ImportPatch(const char* module, const char* function, void* replacement);
  ~ImportPatch();
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;

  bool installed() const { return !slots_.empty(); }
  // The function the entries held before.
  void* original() const { return original_; }

 private:
  std::vector<void**> slots_;
  void* original_ = nullptr;
};

// One replaceable import: `Tag` tells hooks of functions with the same signature apart.
template <typename Tag, typename Signature>
struct Import;

template <typename Tag, typename R, typename... A>
struct Import<Tag, R(A...)> {
  using Function = R(WINAPI*)(A...);
  static inline Function original = nullptr;
  static inline std::function<R(A...)> behaviour;
  static R WINAPI trampoline(A... args) {
    if (behaviour) return behaviour(args...);
    return original(args...);
  }
};

// Runs `behaviour` in place of the import while the guard lives; the behaviour reaches the real
// function through `Imported::original`.
template <typename Imported>
class Hook {
 public:
  template <typename Behaviour>
  Hook(const char* module, const char* function, Behaviour&& behaviour)
      : patch_(module, function, reinterpret_cast<void*>(&Imported::trampoline)) {
    Imported::original = reinterpret_cast<typename Imported::Function>(patch_.original());
    Imported::behaviour = std::forward<Behaviour>(behaviour);
  }
  ~Hook() { Imported::behaviour = nullptr; }
  Hook(const Hook&) = delete;
  Hook& operator=(const Hook&) = delete;

  bool installed() const { return patch_.installed(); }

 private:
  ImportPatch patch_;
};

}  // namespace faults

// The import of a system function `name` under the type name `name##_import`.
#define FAULTS_IMPORT(name) using name##_import = ::faults::Import<struct name##_tag, std::remove_pointer_t<decltype(&::name)>>
