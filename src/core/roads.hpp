// How many calls took each fast road. A fast road that is never taken gives
// the answers of the general road behind it, only slower, so no result shows
// it: the tests read these counts (_ops.roads()) to see each road taken for
// the inputs it is built for. One relaxed add a message, never a byte; where
// the fast road is taken per value (the JSON writer's plain values), the
// general road's values are counted on the way and added once a message.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace vellomar {

enum class Road : uint8_t {
  table_text,     // TableBuilder::add_text: a row read where the text stands
  table_lines,    // ... over the cutter's line ends
  batch_in_place, // BatchCutter::next_in_place: a text viewed in the chunk
  write_plain,    // the writer's read-back check without the cutter
  json_general,   // fields and components to_json wrote in full, not as plain values
  json_memcpy,    // plain values to_json copied with memcpy, not in blocks
  json_tails,     // runs of a JSON string to_json finished one byte at a time
};
struct RoadCount {
  const char *name;
  std::atomic<uint64_t> calls;
};
// In the order of Road.
inline RoadCount road_counts[] = {
    {"table_text", {}}, {"table_lines", {}}, {"batch_in_place", {}}, {"write_plain", {}},
    {"json_general", {}}, {"json_memcpy", {}}, {"json_tails", {}}};

// A relaxed load and store, not a locked add: the callers hold the
// interpreter's lock, and a race could lose no more than a count.
inline void took(Road road, uint64_t calls = 1) {
  auto &count = road_counts[static_cast<size_t>(road)].calls;
  count.store(count.load(std::memory_order_relaxed) + calls, std::memory_order_relaxed);
}

} // namespace vellomar
