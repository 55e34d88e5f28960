// Another process of the same user racing the setup, made deterministic. This program defines the
// C library's path calls itself (lstat, stat, fstatat, open, openat, mkdir, mkdirat), so every such
// call the code under test makes comes here first and then goes on to the C library's own. A test
// arms one move: at the first call whose path ends in a given name, just before or just after that
// call, the move runs, as a racing process could have run it at that very moment.
#pragma once

#include <functional>
#include <string>

namespace race {

enum class When { Before, After };

// Arms the move; it runs at most once. The calls the move itself makes are not watched.
void arm(std::string last_component, When when, std::function<void()> move);
// Whether the armed move has run; disarms it either way.
bool disarm();

}  // namespace race
