// Message queries: terser path access, the MSH header properties and ACK
// generation.
#include <chrono>
#include <ctime>
#include <stdexcept>

#include "../core/ack.hpp"
#include "../core/terser.hpp"
#include "classes.hpp"

namespace vellomar::module {

using py::Ref;

// ------------------------------------------------------------ terser paths

namespace {

// The selected string is copied once, into the new str.
Ref terser_str(const MessagePtr &m, PyObject *path_arg) {
  std::string_view path;
  if (!py::to_text(path_arg, "path", path))
    return {};
  std::string scratch;
  return py::convert_or_raise(terser_get(*m, path, scratch), py::str);
}

} // namespace

const py::Signature message_get_sig{"Message.get()", {"path"}, 1, 1};

Ref message_get(const MessagePtr &m, PyObject **args) { return terser_str(m, args[0]); }

// The subscript key is converted as the argument "path"; there is no
// sequence indexing, so an int key is refused like any other non-str.
Ref message_subscript(const MessagePtr &m, PyObject *key) { return terser_str(m, key); }

// ------------------------------------------------------- header properties

Ref header_message_type(const MessagePtr &m) {
  return py::convert_or_raise(header_field(*m, 9), [](const FieldView &field) {
    // Only the first repetition has components; a missing one is empty.
    const size_t count = field.component_count();
    Ref code = count >= 1 ? value_str(field.component_at(0)) : py::str("");
    Ref event = count >= 2 ? value_str(field.component_at(1)) : py::str("");
    return Ref::check(PyTuple_Pack(2, code.get(), event.get()));
  });
}

// --------------------------------------------------------------------- ACK

namespace {

// The local wall-clock time of this moment as "%Y%m%d%H%M%S". UTC stands in
// when the local time cannot be determined.
std::string local_timestamp() {
  // The system clock, not time(): that may read a coarse clock lagging the
  // real one by a tick, and stamp a reply with the second before the call.
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm parts{};
  if (!localtime_r(&now, &parts) && !gmtime_r(&now, &parts))
    throw std::runtime_error("the current time cannot be converted");
  char buffer[32];
  const size_t length = std::strftime(buffer, sizeof buffer, "%Y%m%d%H%M%S", &parts);
  if (length == 0)
    throw std::runtime_error("the current time cannot be formatted");
  return std::string(buffer, length);
}

} // namespace

const py::Signature message_ack_sig{"Message.ack()", {"ack_code", "text"}, 2, 0};

Ref message_ack(const MessagePtr &m, PyObject **args) {
  std::string_view ack_code = "AA";
  std::string_view text;
  if (args[0] && !py::to_text(args[0], "ack_code", ack_code))
    return {};
  if (args[1] && !py::to_text(args[1], "text", text))
    return {};
  return py::convert_or_raise(make_ack(*m, ack_code, text, local_timestamp()),
                              [](const std::string &reply) { return py::str(reply); });
}

} // namespace vellomar::module
