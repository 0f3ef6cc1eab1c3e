#pragma once

namespace ExitCode {
inline constexpr int kSuccess = 0;
// The command ran, but some input could not be handled.
inline constexpr int kPartialFailure = 1;
// Bad arguments or an unusable configuration: nothing was done.
inline constexpr int kUsage = 2;
} // namespace ExitCode
