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

// An attribute name, interned once and kept for the process: a fresh string
// per call would fill the interpreter's attribute cache with one-off keys.
struct Name {
  const char *text;
  PyObject *interned = nullptr;
};
Name datetime_name{"datetime"}, date_name{"date"}, timezone_name{"timezone"},
    timedelta_name{"timedelta"};

Ref attribute(const Ref &object, Name &name) {
  if (!name.interned) {
    name.interned = PyUnicode_InternFromString(name.text);
    if (!name.interned)
      throw py::ErrorAlreadySet{};
  }
  return Ref::check(PyObject_GetAttr(object.get(), name.interned));
}

// callable(*args), the arguments borrowed; a new reference.
Ref call(const Ref &callable, std::initializer_list<PyObject *> args) {
  return Ref::check(
      PyObject_Vectorcall(callable.get(), args.begin(), args.size(), nullptr));
}


// datetime.datetime(year, ..., microsecond[, timezone(timedelta(0, m * 60))])
Ref new_datetime(const DateTimeParts &t) {
  Ref module = Ref::check(PyImport_ImportModule("datetime"));
  Ref tz;
  if (t.offset_minutes) {
    Ref timezone = attribute(module, timezone_name);
    Ref timedelta = attribute(module, timedelta_name);
    Ref days = integer(0);
    Ref seconds = integer(static_cast<long>(*t.offset_minutes) * 60);
    Ref delta = call(timedelta, {days.get(), seconds.get()});
    tz = call(timezone, {delta.get()});
  }
  Ref datetime = attribute(module, datetime_name);
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
  Ref date = attribute(module, date_name);
  Ref year = integer(d.year), month = integer(d.month), day = integer(d.day);
  return call(date, {year.get(), month.get(), day.get()});
}

} // namespace

const py::Signature parse_datetime_sig{"parse_datetime()", {"raw"}, 1, 1};
const py::Signature parse_date_sig{"parse_date()", {"raw"}, 1, 1};

Ref parse_datetime(PyObject **args) {
  std::string_view raw;
  if (!py::to_text(args[0], "raw", raw))
    return {};
  return py::convert_or_raise(vellomar::parse_datetime(raw), new_datetime);
}

Ref parse_date(PyObject **args) {
  std::string_view raw;
  if (!py::to_text(args[0], "raw", raw))
    return {};
  return py::convert_or_raise(vellomar::parse_date(raw), new_date);
}

} // namespace vellomar::module
