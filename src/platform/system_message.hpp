// The text of a Windows error code, made from what FormatMessageW answered. Kept apart from the
// call so that its fallbacks are exercised on every host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// `output` is the text FormatMessageW wrote (in UTF-16 units of any 16-bit type), or none when it returned 0 and GetLastError gave
// `last_error`. `code` is the code the message was asked for (the NT bit already cleared).
// Trailing ASCII white space is removed; both numbers of a fallback text are signed 32-bit.
template <typename Unit>
std::string system_message_text(std::uint32_t code, std::optional<std::basic_string_view<Unit>> output,
                                std::uint32_t last_error);

}  // namespace platform
