// Pausing the cyclic garbage collector while a bulk result is built.
#pragma once

#include "handle.hpp"

namespace vellomar::py {

// Disables the collector for its lifetime and re-enables it only if it was
// enabled before (so pauses nest). A builder that makes many containers with
// the GIL held and runs no Python code in between gives the collector nothing
// to free: every object it has made is still reachable from the result. Left
// on, the collector would pass over the growing result again and again (ten
// times the building time for to_dict of 200,000 fields); paused, the result
// is traversed once, by the first young collection after the pause, so the
// cost per value stays the same at any size.
class CollectorPause {
public:
  CollectorPause() : was_enabled_(PyGC_Disable() == 1) {}
  ~CollectorPause() {
    if (was_enabled_)
      PyGC_Enable();
  }
  CollectorPause(const CollectorPause &) = delete;
  CollectorPause &operator=(const CollectorPause &) = delete;

private:
  bool was_enabled_;
};

// A body for the method adapters of object.hpp that runs `Body` with the
// collector paused: method_noargs<T, collector_paused<T, body>>.
template <class T, Ref (*Body)(const T &)> Ref collector_paused(const T &value) {
  CollectorPause pause;
  return Body(value);
}

} // namespace vellomar::py
