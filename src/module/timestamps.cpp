// The module functions parse_datetime and parse_date. The core reads the
// numbers; the date, datetime and timezone objects are made through the
// datetime module's C interface, loaded at the first call and kept for the
// process. Its constructors check what the core leaves to them (the year's
// range, the calendar) and their exceptions pass through unchanged.
#include "../core/timestamp.hpp"
#include "classes.hpp"

#include <datetime.h>

namespace vellomar::module {
namespace {

using py::Ref;

// The datetime C interface; imports the datetime module on first use.
const PyDateTime_CAPI &datetime_api() {
  if (!PyDateTimeAPI) {
    PyDateTime_IMPORT;
    if (!PyDateTimeAPI)
      throw py::ErrorAlreadySet{};
  }
  return *PyDateTimeAPI;
}

// datetime(year, ..., microsecond[, tzinfo=timezone(timedelta(seconds=m * 60))])
Ref new_datetime(const DateTimeParts &t) {
  const PyDateTime_CAPI &api = datetime_api();
  Ref tz;
  if (t.offset_minutes) {
    Ref delta = Ref::check(api.Delta_FromDelta(0, *t.offset_minutes * 60, 0, 1, api.DeltaType));
    tz = Ref::check(api.TimeZone_FromTimeZone(delta.get(), nullptr));
  }
  return Ref::check(api.DateTime_FromDateAndTime(t.year, t.month, t.day, t.hour, t.minute,
                                                 t.second, t.microsecond,
                                                 tz ? tz.get() : Py_None, api.DateTimeType));
}

// date(year, month, day)
Ref new_date(const DateParts &d) {
  const PyDateTime_CAPI &api = datetime_api();
  return Ref::check(api.Date_FromDate(d.year, d.month, d.day, api.DateType));
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
