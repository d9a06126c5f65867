// Raising of core errors, the panic exception, and the guard that every entry
// point runs its body in, so that no C++ exception reaches the interpreter.
#pragma once

#include <exception>
#include <new>

#include "../core/result.hpp"
#include "handle.hpp"

namespace vellomar::py {

// Raises `error` as its Python exception, with the message as the only
// argument. Always returns nullptr, for `return raise(e);`.
[[gnu::cold]] PyObject *raise(const Error &error);

// Raises PanicException (derived from BaseException, created on first use)
// with `message` as its only argument.
[[gnu::cold]] void raise_panic(const char *message);

// The PanicException class, made on first use (a borrowed reference; nullptr
// with the error set when it cannot be made).
PyObject *panic_type();

// Runs `body` and returns its result; on any C++ exception sets the Python
// error and returns `failure`: std::bad_alloc becomes MemoryError,
// ErrorAlreadySet keeps the error already set, anything else PanicException.
template <class R, class F> R guard(R failure, F &&body) noexcept {
  try {
    return body();
  } catch (const ErrorAlreadySet &) {
  } catch (const std::bad_alloc &) {
    PyErr_NoMemory();
  } catch (const std::exception &e) {
    raise_panic(e.what());
  } catch (...) {
    raise_panic("unknown internal failure");
  }
  return failure;
}

// Converts the value of `result` with `convert`, or raises its error and
// returns an empty Ref. Lookups that callers expect to fail (an unknown
// segment, an index out of range) take this path, not a C++ throw.
template <class T, class F> Ref convert_or_raise(Result<T> &&result, F &&convert) {
  if (!result)
    return Ref::steal(raise(result.error()));
  return convert(std::move(result).value());
}

} // namespace vellomar::py
