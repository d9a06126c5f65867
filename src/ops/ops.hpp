// The functions of the private entry vellomar._ops, on which the package
// builds its own functions (tables, editing, reading). Each concern defines
// its functions in its own file and lists them here; module.cpp registers them.
#pragma once

#include "../binding/object.hpp"

namespace vellomar::ops {

// Each concern file adds one declaration of its PyMethodDef entries here and
// one line in module.cpp's table.

// Built by a function so that the table never reads another file's statics
// before they are initialised.
PyMethodDef check_path_def(); // paths.cpp

} // namespace vellomar::ops
