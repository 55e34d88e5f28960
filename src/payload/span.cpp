#include "payload/span.hpp"

extern "C" const unsigned char zarvo_payload_start[];

namespace payload {

std::span<const std::byte> payload_span() {
  return {reinterpret_cast<const std::byte*>(zarvo_payload_start), static_cast<std::size_t>(payload_length)};
}

}  // namespace payload
