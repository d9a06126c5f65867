// edit, values and escape: the bindings of the core's editing functions.
#include <algorithm>

#include "../core/delimiters.hpp"
#include "../core/edit.hpp"
#include "../module/classes.hpp"
#include "ops.hpp"

namespace vellomar::ops {
namespace {

using module::MessagePtr;
using py::Ref;

// The record of a Message argument (borrowed from `obj`), or nullptr with
// TypeError "argument '{param}': '{type}' object cannot be converted to
// 'Message'".
const Message *to_message(PyObject *obj, const char *param) {
  if (Py_IS_TYPE(obj, module::types.message))
    return py::instance<MessagePtr>(obj)->value.get();
  Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
  if (qualname)
    PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object cannot be converted to 'Message'",
                 param, qualname.get());
  return nullptr;
}

// The text of a str: paths and values are mostly short ASCII strings, whose
// characters are their UTF-8, read in place; any other goes through to_text.
bool change_text(PyObject *obj, std::string_view &out) {
  if (PyUnicode_CheckExact(obj) && PyUnicode_IS_COMPACT_ASCII(obj)) {
    out = std::string_view(static_cast<const char *>(PyUnicode_DATA(obj)),
                           static_cast<size_t>(PyUnicode_GET_LENGTH(obj)));
    return true;
  }
  return py::to_text(obj, "changes", out);
}

// Reads one (path, value) pair into `changes`; false with the error set.
bool add_change(PyObject *key, PyObject *value, SmallVector<Change, 16> &changes) {
  Change change;
  if (!change_text(key, change.path))
    return false;
  if (value != Py_None) {
    std::string_view text;
    if (!change_text(value, text))
      return false;
    change.value = text;
  }
  changes.push_back(change);
  return true;
}

const py::Signature edit_sig{"edit()", {"message", "changes"}, 2, 2};

// The text views of `changes` stay valid while the dict (or the item list)
// holds its keys and values, that is to the end of this call.
Ref edit(PyObject **args) {
  const Message *message = to_message(args[0], "message");
  if (!message)
    return {};
  PyObject *mapping = args[1];
  SmallVector<Change, 16> changes;
  Ref items;
  if (PyDict_Check(mapping)) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(mapping, &pos, &key, &value))
      if (!add_change(key, value, changes))
        return {};
  } else {
    // Any object with items() giving pairs will do, as for dict(changes).
    items = Ref::steal(PyMapping_Items(mapping));
    if (!items) {
      if (!PyErr_ExceptionMatches(PyExc_AttributeError))
        return {};
      PyErr_Clear();
      Ref qualname = Ref::steal(PyType_GetQualName(Py_TYPE(mapping)));
      if (qualname)
        PyErr_Format(PyExc_TypeError, "argument 'changes': '%U' object is not a mapping",
                     qualname.get());
      return {};
    }
    for (Py_ssize_t i = 0, n = PyList_GET_SIZE(items.get()); i < n; ++i) {
      PyObject *item = PyList_GET_ITEM(items.get(), i);
      if (!PyTuple_Check(item) || PyTuple_GET_SIZE(item) != 2) {
        PyErr_SetString(PyExc_TypeError, "argument 'changes': items() must give pairs");
        return {};
      }
      if (!add_change(PyTuple_GET_ITEM(item, 0), PyTuple_GET_ITEM(item, 1), changes))
        return {};
    }
  }
  return py::convert_or_raise(edit_message(*message, changes.items()), [](Message &&m) {
    return module::new_message(std::move(m));
  });
}

const py::Signature values_sig{"values()", {"message", "path"}, 2, 2};

Ref values(PyObject **args) {
  const Message *message = to_message(args[0], "message");
  std::string_view path;
  if (!message || !py::to_text(args[1], "path", path))
    return {};
  return py::convert_or_raise(field_values(*message, path), [](std::vector<std::string> &&list) {
    return py::new_list(list.size(), [&](auto append) {
      for (const std::string &value : list)
        append(py::str(value));
    });
  });
}

const py::Signature er7_sig{"er7()", {"message", "path"}, 2, 2};

Ref er7(PyObject **args) {
  const Message *message = to_message(args[0], "message");
  std::string_view path;
  if (!message || !py::to_text(args[1], "path", path))
    return {};
  return py::convert_or_raise(element_text(*message, path),
                              [](std::string_view text) { return py::str(text); });
}

// The option line_ends: "escape" (None) or "space".
bool to_line_ends(PyObject *obj, LineEnds &out) {
  if (!obj || obj == Py_None)
    return true;
  std::string_view name;
  if (!py::to_text(obj, "line_ends", name))
    return false;
  if (name == "escape" || name == "space") {
    out = name == "escape" ? LineEnds::escape : LineEnds::space;
    return true;
  }
  PyErr_Format(PyExc_ValueError, "line_ends must be 'escape' or 'space', not %R", obj);
  return false;
}

// The checked delimiters of a Message or of an MSH-2 str; false with the
// error set.
bool to_delimiters(PyObject *obj, EncodingCharacters &out) {
  std::optional<Error> error;
  if (PyUnicode_Check(obj)) {
    std::string_view msh2;
    if (!py::to_text(obj, "delimiters", msh2))
      return false;
    auto read = delimiters_from_text(msh2);
    if (read)
      out = read.value();
    else
      error = std::move(read).error();
  } else if (const Message *message = to_message(obj, "delimiters")) {
    out = message->enc;
    error = check_delimiters(out);
  } else {
    return false;
  }
  if (error)
    py::raise(*error);
  return !error;
}

const py::Signature escape_sig{"escape()", {"text", "delimiters", "line_ends"}, 3, 2};

Ref escape(PyObject **args) {
  std::string_view text;
  if (!py::to_text(args[0], "text", text))
    return {};
  EncodingCharacters enc;
  EscapeOptions options;
  if (!to_delimiters(args[1], enc) || !to_line_ends(args[2], options.line_ends))
    return {};
  std::string out;
  Escaper(enc, options).append(out, text);
  return py::str(out);
}

const py::Signature escape_answer_sig{"escape_answer()", {"text", "header"}, 2, 2};

// A text for MSA-3 (or ERR) of the answer to a message whose header line is
// `header`, however odd: the delimiters it declares, one line.
Ref escape_answer(PyObject **args) {
  std::string_view text, header;
  if (!py::to_text(args[0], "text", text) || !py::to_text(args[1], "header", header))
    return {};
  while (!header.empty() && (header.front() == '\r' || header.front() == '\n'))
    header.remove_prefix(1);
  header = header.substr(0, std::min(header.find_first_of("\r\n"), header.size()));
  const DeclaredDelimiters read = declared_delimiters(header);
  std::string out;
  Escaper(read.enc, {LineEnds::space, read.declared}).append(out, text);
  return py::str(out);
}

} // namespace

PyMethodDef edit_defs[] = {
    {"edit", py::as_cfunction(py::function<edit_sig, edit>), METH_FASTCALL | METH_KEYWORDS,
     "edit(message, changes)\n--\n\n"
     "A new Message: `message` with each path of `changes` set to its value\n"
     "(escaped on the way in), or emptied for None; untouched text is kept\n"
     "byte for byte."},
    {"values", py::as_cfunction(py::function<values_sig, values>), METH_FASTCALL | METH_KEYWORDS,
     "values(message, path)\n--\n\n"
     "The decoded value at `path` in every repetition of the field, in order."},
    {"er7", py::as_cfunction(py::function<er7_sig, er7>), METH_FASTCALL | METH_KEYWORDS,
     "er7(message, path)\n--\n\n"
     "The text at `path` as it stands in the message, escapes kept: a segment\n"
     "line (\"PID\"), a field (\"PID-5\"), a field repetition (\"PID-5(1)\"), a\n"
     "component or a sub-component."},
    {"escape", py::as_cfunction(py::function<escape_sig, escape>), METH_FASTCALL | METH_KEYWORDS,
     "escape(text, delimiters, line_ends='escape')\n--\n\n"
     "`text` escaped for a value, with the delimiters of a Message or of an\n"
     "MSH-2 string (field separator '|'); line_ends='space' writes CR and LF\n"
     "as spaces, for a one-line text."},
    {"escape_answer", py::as_cfunction(py::function<escape_answer_sig, escape_answer>),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace vellomar::ops
