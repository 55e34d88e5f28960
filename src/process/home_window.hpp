#pragma once

namespace process {

// Starts the installed Home window program with "--open Home", on its own (no handle of the
// setup's, in its own folder), without waiting. Yes when it was started; every failure is a
// silent no.
bool launch_home_window();

}  // namespace process
