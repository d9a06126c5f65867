// Instances that hold one C++ value, their types, their borrow state, and the
// adapters that turn plain C++ member bodies into CPython slots and methods.
// Every adapter runs its body inside guard(), under the borrow the member
// needs.
#pragma once

#include <new>
#include <type_traits>
#include <utility>

#include "args.hpp"
#include "errors.hpp"

namespace vellomar::py {

// Borrow state of one instance: > 0 shared borrows, -1 one exclusive borrow.
// Under the GIL, with no calls back into Python inside a member, a conflict
// arises only through re-entrant use of the same iterator.
struct BorrowState {
  Py_ssize_t flag = 0;
};

class SharedBorrow {
public:
  explicit SharedBorrow(BorrowState &state) : state_(state) {
    if (state_.flag < 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      throw ErrorAlreadySet{};
    }
    ++state_.flag;
  }
  ~SharedBorrow() { --state_.flag; }
  SharedBorrow(const SharedBorrow &) = delete;
  SharedBorrow &operator=(const SharedBorrow &) = delete;

private:
  BorrowState &state_;
};

class ExclusiveBorrow {
public:
  explicit ExclusiveBorrow(BorrowState &state) : state_(state) {
    if (state_.flag != 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
      throw ErrorAlreadySet{};
    }
    state_.flag = -1;
  }
  ~ExclusiveBorrow() { state_.flag = 0; }
  ExclusiveBorrow(const ExclusiveBorrow &) = delete;
  ExclusiveBorrow &operator=(const ExclusiveBorrow &) = delete;

private:
  BorrowState &state_;
};

// The layout of every instance: the object header, the borrow state and the
// C++ value, constructed by placement new and destroyed in dealloc.
template <class T> struct Instance {
  PyObject_HEAD BorrowState borrow;
  T value;
};

template <class T> Instance<T> *instance(PyObject *self) {
  return reinterpret_cast<Instance<T> *>(self);
}

// Freed instances of one C++ type, kept for the next wrap(). Walking a
// message makes and drops a Field, Component or Segment object at every step;
// reusing the last freed block skips the allocator's size-class search and
// its free-path checks, as CPython's own free lists do for floats and tuples.
// Only touched with the GIL held; the blocks kept stay allocated until the
// process ends (at most `capacity` of each type).
template <class T> struct FreeList {
  static constexpr int capacity = 256;
  static inline void *blocks[capacity];
  static inline int count = 0;

  static void *take() {
    return count ? blocks[--count] : PyObject_Malloc(sizeof(Instance<T>));
  }
  static void give(void *block) {
    if (count < capacity)
      blocks[count++] = block;
    else
      PyObject_Free(block);
  }
};

// An allocator on the interpreter's small-object heap, for C++ blocks that
// live and die with Python objects (the shared record of a Message). A batch
// frees 100,000 of them at once; in the C heap those blocks sat in its fast
// bins, which its next large request then had to sweep all at once. Only for
// blocks made and freed with the GIL held, as every member body runs.
template <class T> struct SmallObjectAllocator {
  using value_type = T;
  SmallObjectAllocator() = default;
  template <class U> SmallObjectAllocator(const SmallObjectAllocator<U> &) noexcept {}
  T *allocate(size_t n) {
    void *block = PyObject_Malloc(n * sizeof(T));
    if (!block)
      throw std::bad_alloc();
    return static_cast<T *>(block);
  }
  void deallocate(T *block, size_t) noexcept { PyObject_Free(block); }
  template <class U> bool operator==(const SmallObjectAllocator<U> &) const noexcept {
    return true;
  }
};

// A new instance of `type` whose value is the T that `make()` returns (a new
// reference). The value is built straight into the object: a prvalue result
// is not copied or moved, so a record cut from its parent's text is copied
// once, into the object that keeps it. If make() throws, the block goes back
// and nothing is left half-made.
// The types are not GC-tracked and their members are constructed here, so the
// object memory needs neither zero-filling nor tracking: PyObject_Init sets
// the header (and takes the reference a heap type's instance holds).
template <class T, class Make> Ref wrap_made(PyTypeObject *type, Make &&make) {
  void *block = FreeList<T>::take();
  if (!block)
    throw std::bad_alloc();
  auto *inst = static_cast<Instance<T> *>(block);
  try {
    new (&inst->value) T(make());
  } catch (...) {
    FreeList<T>::give(block);
    throw;
  }
  new (&inst->borrow) BorrowState();
  return Ref::steal(PyObject_Init(static_cast<PyObject *>(block), type));
}

// A new instance of `type` owning `value` (a new reference).
template <class T> Ref wrap(PyTypeObject *type, T &&value) {
  using Value = std::decay_t<T>;
  static_assert(std::is_nothrow_constructible_v<Value, T &&>,
                "the value is moved in after the object exists: it must not throw");
  return wrap_made<Value>(type, [&]() -> T && { return std::forward<T>(value); });
}

template <class T> void dealloc(PyObject *self) {
  instance<T>(self)->value.~T();
  PyTypeObject *type = Py_TYPE(self);
  FreeList<T>::give(self); // allocated by wrap()
  Py_DECREF(type); // heap types are owned by their instances
}

// Property lookup without the generic path. Reading `field.components` the
// generic way searches the type's method cache, tests the descriptor for
// being a data descriptor and calls it through getset_get: most of the cost
// of a step of a walk over a message. The names of a type's properties are
// interned like the attribute names in compiled code, so one pointer
// comparison per property finds the getter. The table is trusted only while
// the type's version tag is the one read when it was made: assigning to a
// class attribute changes the tag, and every lookup then takes the generic
// path, so the result is always what the generic lookup gives.
struct PropertyTable {
  static constexpr int max_properties = 8;
  struct Entry {
    PyObject *name; // interned, kept for the process
    getter get;
    void *closure;
  };
  Entry entries[max_properties + 1]; // the entries made, then one of null name
  unsigned int version = 0;           // 0: never trusted
};

template <class T> inline PropertyTable property_table;

template <class T> PyObject *getattro(PyObject *self, PyObject *name) {
  const PropertyTable &table = property_table<T>;
  if (table.version && Py_TYPE(self)->tp_version_tag == table.version)
    for (const PropertyTable::Entry *e = table.entries; e->name; ++e)
      if (e->name == name)
        return e->get(self, e->closure);
  return PyObject_GenericGetAttr(self, name);
}

// Creates a heap type named "builtins.{name}" holding a T: not subclassable,
// no __dict__, no weak references, no GC, and a tp_new that refuses with
// "No constructor defined for {name}". `slots` ends with {0, nullptr}; the
// tp_new, tp_dealloc, tp_getattro and tp_doc slots are added here, and
// `properties` is filled from the Py_tp_getset slot.
PyTypeObject *make_type(const char *qualified_name, int basicsize, const char *doc,
                        destructor dealloc_fn, getattrofunc getattro_fn,
                        PropertyTable &properties, PyType_Slot *slots);

template <class T>
PyTypeObject *make_type(const char *qualified_name, const char *doc,
                        PyType_Slot *slots) {
  return make_type(qualified_name, static_cast<int>(sizeof(Instance<T>)), doc,
                   &dealloc<T>, &getattro<T>, property_table<T>, slots);
}

// The type of T's objects, made by make_type() on first use and kept until
// the process ends (one type a class); raises ErrorAlreadySet when it
// cannot be made.
template <class T>
PyTypeObject *type_once(const char *qualified_name, const char *doc, PyType_Slot *slots) {
  static PyTypeObject *type = nullptr;
  if (!type)
    type = make_type<T>(qualified_name, doc, slots);
  if (!type)
    throw ErrorAlreadySet{};
  return type;
}

// ---------------------------------------------------------------------------
// Adapters. Each is instantiated with a plain function taking the held value.

// A type whose instances never change after they are made (the records of a
// message: every member body takes const T&). Its members take no borrow: no
// exclusive borrow of it can exist to conflict with, and the count they kept
// was a store and a load per step of a walk.
template <class T> inline constexpr bool never_changed = false;

struct NoBorrow {
  explicit NoBorrow(BorrowState &) {}
};

// The borrow a member body runs under: shared for a body reading the held
// value (const T&), exclusive for one that changes it (T&), none for a type
// that never changes (which then may not have a body taking T&).
template <class T, auto Body, class... Args>
struct BorrowChoice {
  static constexpr bool reads = std::is_invocable_v<decltype(Body), const T &, Args...>;
  static_assert(reads || !never_changed<T>, "a type that never changes has no body taking T&");
  using type = std::conditional_t<reads, std::conditional_t<never_changed<T>, NoBorrow, SharedBorrow>,
                                  ExclusiveBorrow>;
};
template <class T, auto Body, class... Args>
using BorrowFor = typename BorrowChoice<T, Body, Args...>::type;

// Everything that runs on the instance alone, Ref body(const T&) or
// Ref body(T&): property getters, methods without arguments (METH_NOARGS)
// and the unary slots (tp_str, tp_repr, tp_iter). The trailing parameters
// stand for what the interpreter passes besides the instance (a getter's
// closure, the NULL argument of METH_NOARGS) and are ignored; they are
// deduced from the type of the table entry the adapter is stored in, and are
// none for a slot.
template <class T, auto Body, class... Ignored> PyObject *unary(PyObject *self, Ignored...) {
  return guard<PyObject *>(nullptr, [&] {
    BorrowFor<T, Body> b(instance<T>(self)->borrow);
    return Body(instance<T>(self)->value).release();
  });
}

// Method with arguments (METH_FASTCALL | METH_KEYWORDS): the arguments are
// bound by `Sig` first, then the instance is borrowed, then
// Ref body(const T& or T&, PyObject** bound) converts and runs. A body
// returns an empty Ref when it has set an error.
template <class T, const Signature &Sig, auto Body>
PyObject *method(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
                 PyObject *kwnames) {
  return guard<PyObject *>(nullptr, [&]() -> PyObject * {
    PyObject *bound[Signature::max_params];
    if (!bind(Sig, args, nargs, kwnames, bound))
      return nullptr;
    BorrowFor<T, Body, PyObject **> b(instance<T>(self)->borrow);
    return Body(instance<T>(self)->value, bound).release();
  });
}

// Module function (METH_FASTCALL | METH_KEYWORDS): the arguments are bound by
// `Sig`, then Ref body(PyObject** bound) converts and runs.
template <const Signature &Sig, Ref (*Body)(PyObject **)>
PyObject *function(PyObject *, PyObject *const *args, Py_ssize_t nargs,
                   PyObject *kwnames) {
  return guard<PyObject *>(nullptr, [&]() -> PyObject * {
    PyObject *bound[Signature::max_params];
    if (!bind(Sig, args, nargs, kwnames, bound))
      return nullptr;
    return Body(bound).release();
  });
}

// Mapping length: size_t body(const T&).
template <class T, size_t (*Body)(const T &)> Py_ssize_t length(PyObject *self) {
  return guard<Py_ssize_t>(-1, [&] {
    SharedBorrow b(instance<T>(self)->borrow);
    return static_cast<Py_ssize_t>(Body(instance<T>(self)->value));
  });
}

// Mapping subscript: Ref body(const T&, PyObject* key).
template <class T, Ref (*Body)(const T &, PyObject *)>
PyObject *subscript(PyObject *self, PyObject *key) {
  return guard<PyObject *>(nullptr, [&] {
    SharedBorrow b(instance<T>(self)->borrow);
    return Body(instance<T>(self)->value, key).release();
  });
}

// Iterator __next__ under an exclusive borrow: Ref body(T&); an empty Ref
// with no error set ends the iteration.
template <class T, Ref (*Body)(T &)> PyObject *next(PyObject *self) {
  return guard<PyObject *>(nullptr, [&] {
    ExclusiveBorrow b(instance<T>(self)->borrow);
    return Body(instance<T>(self)->value).release();
  });
}

// A fast-call function as the PyCFunction that PyMethodDef stores; the
// METH_FASTCALL flag tells the interpreter its real type.
using FastCall = PyObject *(*)(PyObject *, PyObject *const *, Py_ssize_t, PyObject *);
inline PyCFunction as_cfunction(FastCall f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// The iterator's __iter__: itself.
PyObject *self_iter(PyObject *self);

} // namespace vellomar::py
