// MLLP frame removal: start block 0x0B, then the message, then the end block
// 0x1C, optionally followed by a carriage return.
#pragma once

#include <string_view>

namespace vellomar {

inline constexpr char mllp_start_block = '\x0b';
inline constexpr char mllp_end_block = '\x1c';

// The text inside an MLLP frame, or `raw` itself when it is not framed. At
// most one frame is removed; a view into `raw`, never a copy.
inline std::string_view strip_mllp_frame(std::string_view raw) {
  if (raw.size() < 3 || raw.front() != mllp_start_block)
    return raw;
  if (raw.back() == mllp_end_block)
    return raw.substr(1, raw.size() - 2);
  if (raw.back() == '\r' && raw[raw.size() - 2] == mllp_end_block)
    return raw.substr(1, raw.size() - 3);
  return raw;
}

} // namespace vellomar
