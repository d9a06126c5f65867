#include "structure.hpp"

#include <algorithm>
#include <span>

#include "terser.hpp"
#include "text.hpp"

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

// Room a thread's matches reuse, given back when a large message made it
// large (memory stays bounded by what one message of ordinary size needs).
template <class T> void keep_small(std::vector<T> &v) {
  if (v.capacity() > 4096)
    std::vector<T>().swap(v);
  v.clear();
}

// The match reads each group's entries (GroupDef::finish): a segment's
// place at one level is the first entry of its code from where that level's
// search resumes, so a segment costs a scan of a few integers per level.
// What a match writes goes to room sized once for the message (a node per
// segment at most, an item per segment and per node, the widest group's
// counts per node), not grown per occurrence.
class Matcher {
public:
  Matcher(const Message &message, MessageStructure &out) : message_(message), out_(out) {}

  void run(const GroupDef *root) {
    const auto segments = static_cast<uint32_t>(message_.segment_count());
    Scratch &room = scratch();
    // Grown when a message needs more (an item per segment and per node but
    // the message's own), given back after a large one. A segment may open
    // a group in each open one down to its place (an ORM_O01 of 2.3's OBR
    // opens ORDER_DETAIL and the choice within it): up to `depth` items a
    // segment, its own and those of the groups it opens.
    const size_t depth = root ? root->depth : 1, placed = depth * size_t{segments} + 1;
    if (room.placed.size() > 4096 && placed <= 4096)
      std::vector<Placed>().swap(room.placed);
    if (room.stack.size() < depth)
      room.stack.resize(depth);
    if (room.trial.size() < depth)
      room.trial.resize(depth);
    if (room.placed.size() < placed)
      room.placed.resize(placed);
    stack_ = room.stack.data();
    trial_ = room.trial.data();
    placed_ = room.placed.data();
    // A group occurrence opens at a segment: mostly one node per segment
    // besides the root (a message where segments open more grows once).
    out_.nodes.reserve(root ? std::min<size_t>(segments, 64) : 1);
    if (root) // room for eight nodes of the widest group; more when needed
      out_.counts.resize(8 * size_t{root->widest});
    out_.segment_node.resize(segments);
    node_of_ = out_.segment_node.data();
    stack_[0] = open(root, out_.name, 0, 0);
    for (uint32_t i = 0; i < segments; ++i) {
      const std::string_view name = segment_name(message_, i);
      if (!root || !place(i, segment_code(name), name)) {
        attach(stack_[top_].node, i);
        if (root)
          out_.unexpected.push_back(i);
      }
    }
    out_.counts.resize(counts_size_);
    // Each node's items together, in message order.
    uint32_t at = 0;
    for (GroupNode &n : out_.nodes) {
      n.items_at = at;
      at += n.item_count;
      n.item_count = 0;
    }
    out_.items.resize(at);
    GroupNode::Item *items = out_.items.data();
    GroupNode *nodes = out_.nodes.data();
    for (const Placed *p = placed_, *end = placed_ + placed_size_; p != end; ++p) {
      GroupNode &n = nodes[p->node];
      items[n.items_at + n.item_count++] = p->item;
    }
  }

private:
  // An open group, innermost last: the match's stack, and the look-ahead's
  // copy of it (whose frames it opens itself name no node).
  struct Frame {
    const GroupDef *def;
    uint32_t from;      // the entry the next search begins at
    uint32_t node;      // the group's node
    uint32_t counts_at; // the node's counts
    uint32_t next;      // the child after the one taken last (0: none taken)
  };
  struct Placed {
    uint32_t node;
    GroupNode::Item item;
  };

  // The place of a segment among the open groups `frames[0..top]`, searched
  // from the innermost outwards: the same child again when it may repeat,
  // else the first later child that matches (a group passed is left, so
  // closed). The entry, its group's frame in `level`; null when no open
  // group takes the segment. The match and its look-ahead search alike.
  static const GroupDef::Entry *search(const Frame *frames, uint32_t top, uint32_t code,
                                       std::string_view name, uint32_t &level) {
    for (uint32_t at = top + 1; at-- > 0;)
      if (const GroupDef::Entry *e = frames[at].def->find(frames[at].from, code, name)) {
        level = at;
        return e;
      }
    return nullptr;
  }

  // Moves the frames past child `child` of the group at `level`, which takes
  // the segment (a segment of its name, or a group it starts), down to the
  // segment's own place: `pass(frame, child, group)` is told of each child
  // taken (`group` null at the segment's own), before the frame notes it
  // taken, and returns the frame of each group the segment opens. Returns
  // the innermost frame's index.
  template <class Pass>
  [[gnu::always_inline]] static uint32_t enter(Frame *frames, uint32_t level, uint32_t child, uint32_t code,
                        std::string_view name, Pass &&pass) {
    for (;;) {
      Frame &f = frames[level];
      const GroupDef::Place &to = f.def->places[child];
      f.from = to.resume;
      if (!to.group) {
        pass(f, child, nullptr);
        f.next = child + 1;
        return level;
      }
      const Frame opened = pass(f, child, to.group);
      f.next = child + 1;
      frames[++level] = opened;
      child = to.group->find(0, code, name)->child; // it starts the group
    }
  }

  // A new node for an occurrence of `def`; its frame, returned.
  Frame open(const GroupDef *def, std::string_view name, uint32_t parent, uint32_t repetition) {
    const auto index = static_cast<uint32_t>(out_.nodes.size());
    GroupNode &n = out_.nodes.emplace_back();
    n.def = def;
    n.name = name;
    n.parent = parent;
    n.repetition = repetition;
    n.counts_at = counts_size_;
    const Frame frame{def, 0, index, counts_size_, 0};
    if (!def)
      return frame;
    counts_size_ += static_cast<uint32_t>(def->children.size());
    // zeros, as the counts begin (the vector's own growth keeps it amortized)
    out_.counts.resize(std::max<size_t>(counts_size_, out_.counts.size()));
    return frame;
  }

  void add_item(uint32_t node, GroupNode::Item item) {
    placed_[placed_size_++] = {node, item};
    ++out_.nodes[node].item_count;
  }

  void attach(uint32_t node, uint32_t segment) {
    add_item(node, {false, segment});
    node_of_[segment] = node;
  }

  // Places the segment at child `child` of the open group at `level`, which
  // takes it, opening the groups it starts down to its own place.
  void take(uint32_t level, uint32_t child, uint32_t segment, uint32_t code,
            std::string_view name) {
    top_ = enter(stack_, level, child, code, name,
                 [&](const Frame &f, uint32_t at, const GroupDef *group) {
                   const uint32_t count = out_.counts[f.counts_at + at]++;
                   if (!group) {
                     attach(f.node, segment);
                     return f;
                   }
                   add_item(f.node, {true, static_cast<uint32_t>(out_.nodes.size())});
                   return open(group, group->name, f.node, count);
                 });
  }

  // Finds the place of a segment (search()) and takes it. Where the
  // innermost place opens a group and a group further out takes the segment
  // too (an OML_O21's next ORC after an SPM opens an ORDER_PRIOR of the
  // PRIOR_RESULT as well as the next ORDER), the place whose following
  // segments all find a place the longest is taken; while they do alike, the
  // one that leaves fewer required children out (ORC OBR at the message's
  // end: an ORDER_PRIOR lacks its OBSERVATION_PRIOR, the next ORDER lacks
  // nothing); then the innermost.
  bool place(uint32_t segment, uint32_t code, std::string_view name) {
    uint32_t level = 0;
    const GroupDef::Entry *e = search(stack_, top_, code, name, level);
    if (!e)
      return false;
    if (stack_[level].def->places[e->child].group) {
      Reach reach; // how far the place taken so far gets
      bool followed = false;
      uint32_t outer = level;
      for (const GroupDef::Entry *o;
           outer > 0 && (o = search(stack_, outer - 1, code, name, outer));) {
        if (!followed)
          reach = reach_from(level, e->child, segment), followed = true;
        if (reach.end == lookahead_end(segment) && reach.missed == 0)
          break;
        if (const Reach r = reach_from(outer, o->child, segment);
            r.end > reach.end || (r.end == reach.end && r.missed < reach.missed)) {
          reach = r;
          level = outer;
          e = o;
        }
      }
    }
    take(level, e->child, segment, code, name);
    return true;
  }

  // How far a choice of place looks ahead: a few segments, so that a message
  // of many such choices costs a bounded amount each.
  static constexpr uint32_t lookahead = 32;
  uint32_t lookahead_end(uint32_t segment) const {
    return static_cast<uint32_t>(
        std::min<size_t>(message_.segment_count(), size_t{segment} + 1 + lookahead));
  }

  // The required children of `f`'s group before child `upto` that it has not
  // taken since the one it took last (children taken come in order; none
  // when `upto` is that one again, repeated).
  static uint32_t missed(const Frame &f, uint32_t upto) {
    return upto > f.next ? f.def->required_before[upto] - f.def->required_before[f.next] : 0;
  }
  static uint32_t missed_all(const Frame &f) {
    return f.def->required_before.back() - f.def->required_before[f.next];
  }

  // How far a choice of place gets: `end` the first segment after it that
  // finds no place (the look-ahead's end when all do), `missed` the required
  // children left out of the groups it closes on the way (and of those open
  // at the message's end, when the look-ahead reaches it).
  struct Reach {
    uint32_t end = 0;
    uint32_t missed = 0;
  };

  // How far `segment` gets once placed at child `child` of the open group at
  // `level`, matched as place() and take() would (search(), enter()) but on
  // a copy of the open groups, writing nothing.
  Reach reach_from(uint32_t level, uint32_t child, uint32_t segment) {
    Reach reach;
    for (uint32_t i = level + 1; i <= top_; ++i) // closed by the choice
      reach.missed += missed_all(stack_[i]);
    Frame *t = trial_;
    std::copy_n(stack_, level + 1, t);
    const auto pass = [&](const Frame &f, uint32_t at, const GroupDef *group) {
      reach.missed += missed(f, at);
      return group ? Frame{group, 0, 0, 0, 0} : f;
    };
    const std::string_view first = segment_name(message_, segment);
    uint32_t top = enter(t, level, child, segment_code(first), first, pass);
    const uint32_t end = lookahead_end(segment);
    for (uint32_t i = segment + 1; i < end; ++i) {
      const std::string_view name = segment_name(message_, i);
      const uint32_t code = segment_code(name);
      uint32_t at = 0;
      const GroupDef::Entry *e = search(t, top, code, name, at);
      if (!e) {
        reach.end = i;
        return reach;
      }
      for (uint32_t j = at + 1; j <= top; ++j) // left, so closed
        reach.missed += missed_all(t[j]);
      top = enter(t, at, e->child, code, name, pass);
    }
    if (end == message_.segment_count()) // all that is open closes here
      for (uint32_t j = 0; j <= top; ++j)
        reach.missed += missed_all(t[j]);
    reach.end = end;
    return reach;
  }

  struct Scratch {
    std::vector<Frame> stack;
    std::vector<Frame> trial; // reach_from()'s copy of the stack
    std::vector<Placed> placed; // (node, item) in message order
  };
  // Out of line: the thread's copy is asked for once per match, not at each use.
  [[gnu::noinline]] static Scratch &scratch() {
    thread_local Scratch kept;
    return kept;
  }

  const Message &message_;
  MessageStructure &out_;
  Frame *stack_ = nullptr;
  Frame *trial_ = nullptr;
  uint32_t top_ = 0; // the innermost open group's frame
  Placed *placed_ = nullptr;
  uint32_t placed_size_ = 0;
  uint32_t *node_of_ = nullptr; // out_.segment_node
  uint32_t counts_size_ = 0;
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

std::string_view plain_version(std::string_view sent) {
  std::string_view plain = trim_white_space(sent);
  if (plain.size() > 1 && (plain[0] == 'V' || plain[0] == 'v') && plain[1] >= '0' &&
      plain[1] <= '9')
    plain.remove_prefix(1);
  return plain;
}

MessageKind message_kind(const Definitions &defs, const Message &message,
                         std::string_view version) {
  MessageKind kind;
  SegmentView msh; // found once for both fields
  const bool header = message.find_segment("MSH", msh);
  const bool sent = version.empty();
  if (sent && header)
    header_components(msh, 12, {&version, 1});
  kind.definitions = defs.version(version);
  if (!kind.definitions && sent) [[unlikely]] // "V2.4", "2.3.1 ": the version plainly named
    if (const std::string_view plain = plain_version(version); plain.size() != version.size())
      if ((kind.definitions = defs.version(plain)))
        version = plain, kind.respelled = true;
  kind.version = version;
  std::string_view type[3]; // MSH-9: type^event^structure
  if (header)
    header_components(msh, 9, type);
  kind.type = type[0];
  kind.event = type[1];
  find_structure(kind, type[2]);
  return kind;
}

void find_structure(MessageKind &kind, std::string_view named) {
  kind.structure_name.clear();
  kind.structure = kind.definitions ? kind.definitions->structure_of(kind.type, kind.event, named,
                                                                     kind.structure_name)
                                    : nullptr;
  if (!kind.structure) {
    kind.structure_name = kind.type;
    if (!kind.event.empty())
      kind.structure_name.append("_").append(kind.event);
  }
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
