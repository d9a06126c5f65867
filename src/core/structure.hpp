// The group tree of a message: its segments matched in one pass against the
// structure its header names, as the HL7 definitions of its version lay it
// out (groups, their order, optionality and repetition).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "definitions.hpp"
#include "records.hpp"

namespace vellomar {

// One occurrence of a group. Its items are its segments (by index in the
// message) and child group occurrences (by node index), in message order.
// Its counts and items are stored in its MessageStructure, all nodes' in one
// array each (a message of twenty observation groups would otherwise make
// forty small vectors).
struct GroupNode {
  struct Item {
    bool group;
    uint32_t index;
  };
  const GroupDef *def = nullptr; // null for the one flat group of an unknown structure
  std::string_view name;
  uint32_t parent = 0;     // the message's node is its own parent
  uint32_t repetition = 0; // 0-based among its parent's occurrences of this group
  uint32_t counts_at = 0;  // its counts: def->children.size() from here
  uint32_t items_at = 0, item_count = 0;
};

struct MessageStructure {
  std::string name;                   // the structure's name ("ORU_R01"), or TYPE_EVENT
  bool known = false;                 // matched against a structure of the definitions
  std::vector<GroupNode> nodes;       // nodes[0] is the message itself
  std::vector<uint32_t> segment_node; // the node holding each segment
  std::vector<uint32_t> unexpected;   // segments not in the structure where they stand
  std::vector<uint32_t> counts;       // occurrences of each child of each node's def
  std::vector<GroupNode::Item> items; // each node's items, together

  std::span<const uint32_t> counts_of(const GroupNode &n) const {
    return {counts.data() + n.counts_at, n.def ? n.def->children.size() : 0};
  }
  std::span<const GroupNode::Item> items_of(const GroupNode &n) const {
    return {items.data() + n.items_at, n.item_count};
  }
};

// MSH-12's first component `sent` spelled plainly: without white space
// around it or a "V" before the number ("V2.4", "v2.3", "2.3.1 ": 2.4, 2.3,
// 2.3.1), as some senders write the version; other text as it stands.
std::string_view plain_version(std::string_view sent);

// What the header of a message says about its definitions: its version
// (MSH-12-1 unless `version` is given: as sent when the definitions hold
// it, else its plain spelling when they hold that, else as sent), the
// definitions of that version (null when there are none), its type, event
// and structure. The one reading of a message's version: structure(),
// validate(), table() and the converter read it here; Message.version and
// MSH-12 itself stay as sent.
struct MessageKind {
  std::string version;
  bool respelled = false; // `version` is MSH-12-1 spelled plainly, not as sent
  const VersionDefinitions *definitions = nullptr;
  std::string type, event, structure_name;
  const GroupDef *structure = nullptr;
};
MessageKind message_kind(const Definitions &defs, const Message &message,
                         std::string_view version);
// Sets `kind`'s structure (and its name) from its definitions, type and
// event and the structure MSH-9 names (`named`); without one of the
// definitions, the name TYPE_EVENT and no structure. message_kind()'s own.
void find_structure(MessageKind &kind, std::string_view named);

// Matches the segments of `message` against `kind.structure` in one pass. A
// segment the structure has no place for at that point (a Z segment, or one
// out of order) goes into the innermost group open at that point and is
// listed in `unexpected`. Without a structure the message is one flat group.
MessageStructure match_structure(const Message &message, const MessageKind &kind);
// The same into `out`, whose vectors keep the room an earlier match gave
// them: a caller that matches message after message allocates once.
void match_structure(const Message &message, const MessageKind &kind, MessageStructure &out);

// The segment (index in the message) that a row on segment `row` reads for
// the `repetition`-th (0-based) segment named `name`: searched in the
// innermost group holding `row`, then in each enclosing group, taking the
// first group that holds such a segment directly or in a child group that
// cannot repeat (a group that repeats belongs to its own occurrence: another
// order, another observation). no_row_segment when none has one. Each
// group is searched once per path, however many rows share it.
constexpr uint32_t no_row_segment = UINT32_MAX;
class RowSegments {
public:
  RowSegments(const MessageStructure &structure, const Message &message, size_t paths)
      : s_(structure), message_(message), paths_(paths),
        memo_(structure.nodes.size() * paths, unknown) {}
  // `path` numbers the (name, repetition) pair, 0 to paths - 1.
  uint32_t find(uint32_t row, size_t path, std::string_view name, uint64_t repetition);

private:
  static constexpr uint32_t unknown = UINT32_MAX - 1;
  const MessageStructure &s_;
  const Message &message_;
  size_t paths_;
  std::vector<uint32_t> memo_; // by node, then path
};

// A segment's name as it stands in the message.
inline std::string_view segment_name(const Message &message, size_t index) {
  const SegmentEntry &e = message.segments[index];
  return {message.raw.data() + e.offset, e.name_length};
}

} // namespace vellomar
