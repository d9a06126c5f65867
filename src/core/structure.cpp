#include "structure.hpp"

#include <algorithm>
#include <span>

#include "terser.hpp"

namespace vellomar {
namespace {

// The first components of the first repetition of MSH-`number` (`msh` the
// header), raw, one into each slot of `out`; those the header lacks stay
// empty. The walk stops where the slots do.
void header_components(const SegmentView &msh, uint64_t number, std::span<std::string_view> out) {
  if (number == 0 || number > msh.field_count())
    return;
  auto slot = out.begin();
  msh.field_at(number - 1).for_each_component([&](const ComponentView &c) {
    if (slot == out.end())
      return false;
    *slot++ = c.text;
    return true;
  });
}

// Segment names are three bytes: compared as such, without a call to memcmp
// (a match compares each segment with several children of its group).
inline bool same_name(std::string_view a, std::string_view b) {
  if (a.size() != b.size())
    return false;
  if (a.size() == 3)
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
  return a == b;
}

bool group_starts_with(const GroupDef &def, std::string_view name) {
  for (const std::string &start : def.starts)
    if (same_name(start, name))
      return true;
  return false;
}

// Room a thread's matches reuse, given back when a large message made it
// large (memory stays bounded by what one message of ordinary size needs).
template <class T> void keep_small(std::vector<T> &v) {
  if (v.capacity() > 4096)
    std::vector<T>().swap(v);
  v.clear();
}

class Matcher {
public:
  Matcher(const Message &message, MessageStructure &out)
      : message_(message), out_(out), stack_(scratch().stack), placed_(scratch().placed) {
    keep_small(stack_);
    keep_small(placed_);
  }

  void run(const GroupDef *root) {
    const size_t segments = message_.segment_count();
    // A group occurrence opens at a segment: at most one node per segment.
    out_.nodes.reserve(root ? std::min<size_t>(segments + 1, 64) : 1);
    out_.nodes.push_back(node(root, out_.name, 0));
    placed_.reserve(segments + 8);
    stack_.reserve(8);
    stack_.push_back({0, npos});
    out_.segment_node.reserve(segments);
    for (uint32_t i = 0, n = static_cast<uint32_t>(message_.segment_count()); i < n; ++i) {
      std::string_view name = segment_name(message_, i);
      if (!root || !place(i, name)) {
        attach(stack_.back().node, i);
        if (root)
          out_.unexpected.push_back(i);
      }
    }
    // Each node's items together, in message order.
    uint32_t at = 0;
    for (GroupNode &n : out_.nodes) {
      n.items_at = at;
      at += n.item_count;
      n.item_count = 0;
    }
    out_.items.resize(at);
    for (const auto &[node, item] : placed_) {
      GroupNode &n = out_.nodes[node];
      out_.items[n.items_at + n.item_count++] = item;
    }
  }

private:
  static constexpr size_t npos = static_cast<size_t>(-1);
  struct Frame {
    uint32_t node;
    size_t position; // the child last matched, npos before the first
  };

  GroupNode node(const GroupDef *def, std::string_view name, uint32_t parent) {
    GroupNode n;
    n.def = def;
    n.name = name;
    n.parent = parent;
    n.counts_at = static_cast<uint32_t>(out_.counts.size());
    if (def)
      out_.counts.resize(out_.counts.size() + def->children.size(), 0);
    return n;
  }

  uint32_t &count(uint32_t node, size_t child) {
    return out_.counts[out_.nodes[node].counts_at + child];
  }

  void add_item(uint32_t node, GroupNode::Item item) {
    placed_.push_back({node, item});
    ++out_.nodes[node].item_count;
  }

  void attach(uint32_t node, uint32_t segment) {
    add_item(node, {false, segment});
    out_.segment_node.push_back(node);
  }

  // Opens an occurrence of the group child `child` of the frame on top.
  void open_group(size_t child) {
    Frame &top = stack_.back();
    const GroupDef *def = out_.nodes[top.node].def->children[child].group;
    const auto index = static_cast<uint32_t>(out_.nodes.size());
    out_.nodes.push_back(node(def, def->name, top.node));
    out_.nodes.back().repetition = count(top.node, child)++;
    add_item(top.node, {true, index});
    top.position = child;
    stack_.push_back({index, npos});
  }

  // Places the segment in the frame on top at child `child`, which matches it
  // (a segment of that name, or a group it starts).
  void take(size_t child, uint32_t segment, std::string_view name) {
    for (;;) {
      Frame &top = stack_.back();
      const StructureElement &element = out_.nodes[top.node].def->children[child];
      if (!element.group) {
        count(top.node, child)++;
        top.position = child;
        attach(top.node, segment);
        return;
      }
      open_group(child);
      child = first_match(*element.group, 0, name);
    }
  }

  static size_t first_match(const GroupDef &def, size_t from, std::string_view name) {
    for (size_t i = from; i < def.children.size(); ++i) {
      const StructureElement &c = def.children[i];
      if (c.group ? group_starts_with(*c.group, name) : same_name(c.name, name))
        return i;
    }
    return npos;
  }

  // Finds the place of a segment from the innermost open group outwards:
  // the same child again when it may repeat, else the first later child that
  // matches; leaving a group closes it.
  bool place(uint32_t segment, std::string_view name) {
    for (size_t level = stack_.size(); level-- > 0;) {
      const Frame &frame = stack_[level];
      const GroupDef &def = *out_.nodes[frame.node].def;
      size_t child = npos;
      if (frame.position != npos) {
        const StructureElement &c = def.children[frame.position];
        // The child still open below this level already failed to take it.
        if (c.cardinality.max != 1 &&
            (c.group ? group_starts_with(*c.group, name) : same_name(c.name, name)))
          child = frame.position;
      }
      if (child == npos)
        child = first_match(def, frame.position == npos ? 0 : frame.position + 1, name);
      if (child != npos) {
        stack_.resize(level + 1);
        take(child, segment, name);
        return true;
      }
    }
    return false;
  }

  struct Scratch {
    std::vector<Frame> stack;
    std::vector<std::pair<uint32_t, GroupNode::Item>> placed;
  };
  // Out of line: the thread's copy is asked for once per match, not at each use.
  [[gnu::noinline]] static Scratch &scratch() {
    thread_local Scratch kept;
    return kept;
  }

  const Message &message_;
  MessageStructure &out_;
  std::vector<Frame> &stack_;
  std::vector<std::pair<uint32_t, GroupNode::Item>> &placed_; // (node, item) in message order
};

// The `repetition`-th segment named `name` within `node`, descending only
// into child groups that cannot repeat; counts down `repetition` and sets
// `held` when the node holds one at all.
uint32_t find_in(const MessageStructure &s, const Message &message, uint32_t node,
                 std::string_view name, uint64_t &repetition, bool &held) {
  const GroupNode &n = s.nodes[node];
  for (const GroupNode::Item &item : s.items_of(n)) {
    if (!item.group) {
      if (segment_name(message, item.index) == name) {
        held = true;
        if (repetition-- == 0)
          return item.index;
      }
      continue;
    }
    const GroupNode &child = s.nodes[item.index];
    bool repeats = true;
    for (const StructureElement &e : n.def->children)
      if (e.group == child.def)
        repeats = e.cardinality.max != 1;
    if (repeats)
      continue;
    uint32_t found = find_in(s, message, item.index, name, repetition, held);
    if (found != no_row_segment)
      return found;
  }
  return no_row_segment;
}

} // namespace

MessageKind message_kind(const Definitions &defs, const Message &message,
                         std::string_view version) {
  MessageKind kind;
  SegmentView msh; // found once for both fields
  const bool header = message.find_segment("MSH", msh);
  if (version.empty() && header)
    header_components(msh, 12, {&version, 1});
  kind.version = version;
  std::string_view type[3]; // MSH-9: type^event^structure
  if (header)
    header_components(msh, 9, type);
  kind.type = type[0];
  kind.event = type[1];
  kind.definitions = defs.version(kind.version);
  if (kind.definitions)
    kind.structure =
        kind.definitions->structure_of(kind.type, kind.event, type[2], kind.structure_name);
  if (!kind.structure) {
    kind.structure_name = kind.type;
    if (!kind.event.empty())
      kind.structure_name.append("_").append(kind.event);
  }
  return kind;
}

MessageStructure match_structure(const Message &message, const MessageKind &kind) {
  MessageStructure out;
  match_structure(message, kind, out);
  return out;
}

void match_structure(const Message &message, const MessageKind &kind, MessageStructure &out) {
  out.name = kind.structure_name;
  out.known = kind.structure != nullptr;
  keep_small(out.nodes);
  keep_small(out.segment_node);
  keep_small(out.unexpected);
  keep_small(out.counts);
  keep_small(out.items);
  Matcher(message, out).run(kind.structure);
}

uint32_t RowSegments::find(uint32_t row, size_t path, std::string_view name,
                           uint64_t repetition) {
  // A group that holds no such segment answers as the group around it does,
  // so every group passed on the way up gets the answer found.
  uint32_t node = s_.segment_node[row], result = no_row_segment, start = node;
  for (;; node = s_.nodes[node].parent) {
    uint32_t &known = memo_[node * paths_ + path];
    if (known != unknown) {
      result = known;
      break;
    }
    bool held = false;
    uint64_t left = repetition;
    const uint32_t found = find_in(s_, message_, node, name, left, held);
    if (held || node == 0) {
      result = known = found;
      break;
    }
  }
  for (node = start; memo_[node * paths_ + path] == unknown; node = s_.nodes[node].parent)
    memo_[node * paths_ + path] = result;
  return result;
}

} // namespace vellomar
