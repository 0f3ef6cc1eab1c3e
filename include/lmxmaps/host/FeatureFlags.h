#pragma once
// The host's feature flags: a flag is a 32-bit id, on when the option "FeatureFlags" lists it
// (comma-separated, in hexadecimal with or without "0x": "0xA76CC2CA,0x1F").

#include <cstdint>

namespace FeatureFlags {

bool IsOn(std::uint32_t id);

} // namespace FeatureFlags
