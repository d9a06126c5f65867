// The owning handle for PyObject*: one strong reference, released when the
// handle goes away. Results are built in handles and release()d only on
// success, so every early return cleans up.
#pragma once

#include <utility>

#include "compat.hpp"

namespace vellomar::py {

// Thrown by binding helpers after a failed C-API call has set the Python
// error; the entry-point guard turns it into a NULL return.
struct ErrorAlreadySet {};

class Ref {
public:
  Ref() noexcept = default;
  Ref(const Ref &) = delete;
  Ref &operator=(const Ref &) = delete;
  Ref(Ref &&other) noexcept : p_(other.release()) {}
  Ref &operator=(Ref &&other) noexcept {
    reset(other.release());
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  // Takes over a new reference (may be nullptr).
  static Ref steal(PyObject *p) noexcept { return Ref(p); }
  // Takes a new reference to a borrowed object.
  static Ref borrow(PyObject *p) noexcept {
    Py_XINCREF(p);
    return Ref(p);
  }
  // Takes over a new reference returned by a C-API call; throws
  // ErrorAlreadySet when the call failed.
  static Ref check(PyObject *p) {
    if (!p)
      throw ErrorAlreadySet{};
    return Ref(p);
  }

  PyObject *get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Hands the reference to the caller.
  PyObject *release() noexcept { return std::exchange(p_, nullptr); }
  void reset(PyObject *p = nullptr) noexcept {
    PyObject *old = std::exchange(p_, p);
    Py_XDECREF(old);
  }

private:
  explicit Ref(PyObject *p) noexcept : p_(p) {}
  PyObject *p_ = nullptr;
};

} // namespace vellomar::py
