#include "process/home_window.hpp"

#include <string>

#include "platform/fs.hpp"
#include "platform/path.hpp"
#include "platform/runtime.hpp"
#include "process/child.hpp"

namespace process {

bool launch_home_window() {
  const auto local_app_data = platform::environment_variable("LOCALAPPDATA");
  if (!local_app_data) return false;
  std::string program = *local_app_data;
  for (const char* component : {"Programs", "zarvo", "bin", "zarvo-hud.exe"}) {
    program = platform::join_path(program, component);
  }
  if (!platform::is_file(program)) return false;

  // Started on its own and let go at once: its handles close here, the program runs on.
  return start_child(ChildCommand{.program = std::move(program),
                                  .arguments = {"--open", "Home"},
                                  .start = ChildStart::OnItsOwn})
      .has_value();
}

}  // namespace process
