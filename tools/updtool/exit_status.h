// updtool's exit statuses, shared by every command.
#pragma once

namespace updtool {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;  // a file could not be read, a download failed
inline constexpr int kExitUsage = 2;

}  // namespace updtool
