// The module functions parse_datetime and parse_date. The core reads the
// numbers; the date, datetime, timedelta and timezone objects come from the
// interpreter's datetime module, imported on every call (the import machinery
// hands back the loaded module). Its exceptions pass through unchanged.
#include "../core/timestamp.hpp"
#include "classes.hpp"

#include <initializer_list>

namespace vellomar::module {
namespace {

using py::Ref;

Ref integer(long value) { return Ref::check(PyLong_FromLong(value)); }

Ref attribute(const Ref &object, const char *name) {
  return Ref::check(PyObject_GetAttrString(object.get(), name));
}

// callable(*args), the arguments borrowed; a new reference.
Ref call(const Ref &callable, std::initializer_list<PyObject *> args) {
  return Ref::check(
      PyObject_Vectorcall(callable.get(), args.begin(), args.size(), nullptr));
}

// Binds and converts the one argument `raw` of `sig`; false with the error set.
bool bind_raw(const py::Signature &sig, PyObject *const *args, Py_ssize_t nargs,
              PyObject *kwnames, std::string_view &raw) {
  PyObject *bound[py::Signature::max_params];
  return py::bind(sig, args, nargs, kwnames, bound) && py::to_text(bound[0], "raw", raw);
}

const py::Signature parse_datetime_sig{"parse_datetime()", {"raw"}, 1, 1};
const py::Signature parse_date_sig{"parse_date()", {"raw"}, 1, 1};

// datetime.datetime(year, ..., microsecond[, timezone(timedelta(0, m * 60))])
Ref new_datetime(const DateTimeParts &t) {
  Ref module = Ref::check(PyImport_ImportModule("datetime"));
  Ref tz;
  if (t.offset_minutes) {
    Ref timezone = attribute(module, "timezone");
    Ref timedelta = attribute(module, "timedelta");
    Ref days = integer(0);
    Ref seconds = integer(static_cast<long>(*t.offset_minutes) * 60);
    Ref delta = call(timedelta, {days.get(), seconds.get()});
    tz = call(timezone, {delta.get()});
  }
  Ref datetime = attribute(module, "datetime");
  Ref year = integer(t.year), month = integer(t.month), day = integer(t.day);
  Ref hour = integer(t.hour), minute = integer(t.minute), second = integer(t.second);
  Ref microsecond = integer(t.microsecond);
  if (tz)
    return call(datetime, {year.get(), month.get(), day.get(), hour.get(), minute.get(),
                           second.get(), microsecond.get(), tz.get()});
  return call(datetime, {year.get(), month.get(), day.get(), hour.get(), minute.get(),
                         second.get(), microsecond.get()});
}

// datetime.date(year, month, day)
Ref new_date(const DateParts &d) {
  Ref module = Ref::check(PyImport_ImportModule("datetime"));
  Ref date = attribute(module, "date");
  Ref year = integer(d.year), month = integer(d.month), day = integer(d.day);
  return call(date, {year.get(), month.get(), day.get()});
}

} // namespace

PyObject *parse_datetime(PyObject *, PyObject *const *args, Py_ssize_t nargs,
                         PyObject *kwnames) {
  return py::guard<PyObject *>(nullptr, [&]() -> PyObject * {
    std::string_view raw;
    if (!bind_raw(parse_datetime_sig, args, nargs, kwnames, raw))
      return nullptr;
    auto parts = vellomar::parse_datetime(raw);
    if (!parts)
      return py::raise(parts.error());
    return new_datetime(parts.value()).release();
  });
}

PyObject *parse_date(PyObject *, PyObject *const *args, Py_ssize_t nargs,
                     PyObject *kwnames) {
  return py::guard<PyObject *>(nullptr, [&]() -> PyObject * {
    std::string_view raw;
    if (!bind_raw(parse_date_sig, args, nargs, kwnames, raw))
      return nullptr;
    auto parts = vellomar::parse_date(raw);
    if (!parts)
      return py::raise(parts.error());
    return new_date(parts.value()).release();
  });
}

} // namespace vellomar::module
