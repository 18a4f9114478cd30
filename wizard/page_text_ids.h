// Ids of the texts that more than one page shows.
#pragma once

namespace upd::wizard {

inline constexpr int kChooseServerText = 108;
inline constexpr int kChooseAnotherServerText = 159;
inline constexpr int kTooLargeText = 173;

}  // namespace upd::wizard
