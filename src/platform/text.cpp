#include "platform/text.hpp"

namespace platform {

std::string display_text(std::string_view wtf8) {
  std::string out;
  out.reserve(wtf8.size());
  for (std::size_t i = 0; i < wtf8.size();) {
    const auto decoded = utf8::decode(wtf8.substr(i), utf8::Surrogates::Allowed);
    const bool surrogate = decoded && (utf8::is_high_surrogate(decoded->code_point) || utf8::is_low_surrogate(decoded->code_point));
    if (decoded && !surrogate) {
      out.append(wtf8.substr(i, decoded->length));
    } else {
      out += utf8::replacement_character;
    }
    i += decoded ? decoded->length : 1;
  }
  return out;
}

}  // namespace platform
