// The payload: one read-only byte array in the image, addressed in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "payload_config.h"  // generated at build time from the archive itself

namespace payload {

// The archive's length in bytes, a build-time constant (the banner prints it).
inline constexpr std::uint64_t payload_length = ZARVO_PAYLOAD_SIZE;

// The whole archive where it lies in the image; never written.
std::span<const std::byte> payload_span();

}  // namespace payload
