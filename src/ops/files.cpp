// What the package's file writing needs beyond Python's os module.
#include <cerrno>
#include <fcntl.h>

#include "ops.hpp"

namespace vellomar::ops {

const py::Signature write_behind_sig{"write_behind()", {"fd"}, 1, 1};

// write_behind(fd): starts writing what was written to the file `fd` and is
// not on its way to the device yet, and returns without waiting for it
// (Linux's sync_file_range), so that the sync of a whole file at its end
// finds most of it written while the writer went on; elsewhere it does
// nothing. Raises OSError for a failure to write (EIO, ENOSPC).
py::Ref write_behind(PyObject **args) {
  const long fd = PyLong_AsLong(args[0]);
  if (fd == -1 && PyErr_Occurred())
    return {};
#ifdef __linux__
  int failed = 0; // errno
  Py_BEGIN_ALLOW_THREADS
  if (sync_file_range(static_cast<int>(fd), 0, 0, SYNC_FILE_RANGE_WRITE) != 0) // 0, 0: all
    failed = errno;
  Py_END_ALLOW_THREADS
  // A file system that cannot start it (EINVAL) leaves it to the final sync.
  if (failed && failed != EINVAL && failed != ENOSYS && failed != EOPNOTSUPP) {
    errno = failed;
    return py::Ref::steal(PyErr_SetFromErrno(PyExc_OSError));
  }
#endif
  return py::Ref::borrow(Py_None);
}

} // namespace vellomar::ops
