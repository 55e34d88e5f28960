// The path rule: what an entry name (or a link target met on the way) means below the base.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace payload {

// The components a name reduces to, or none when it names nothing below its start: it holds a
// NUL or a colon anywhere, begins with a separator (rooted, UNC, device and extended-length forms),
// its `..` components climb above the top, or a component is one that Win32 reads as something
// else (a device name, a name ending in a dot or a space), which Windows' own tools could
// neither open nor delete, or has the shape of a short name (PROGRA~1), which can be another
// entry's folder or file under its other name. `\` and `/` both separate, empty pieces vanish, `.`
// is dropped and `..` removes the last component kept. The result may be empty: the name then
// denotes its start itself.
//
// A colon is never part of a Windows file name: in any component it makes a drive ("C:x", which
// the Windows join takes as a path of its own, relative to that drive's current folder) or names
// a stream ("f:s", which on NTFS is written through a link at "f" to the link's target).
//
// With `Win32Names::Kept` the last rule is left out: where names are only compared, `x.` is `x`.
enum class Win32Names { Refused, Kept };
std::optional<std::vector<std::string>> simplified_components(std::string_view name,
                                                              Win32Names win32_names = Win32Names::Refused);

// Whether a name denotes a directory: it ends with `/` or `\`.
bool denotes_directory(std::string_view name);

}  // namespace payload
