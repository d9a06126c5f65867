// The functions of the private entry vellomar._ops, on which the package
// builds its own functions (tables, editing, reading). Each concern defines
// its functions in its own file and lists them here; module.cpp registers them.
#pragma once

#include "../binding/object.hpp"

namespace vellomar::ops {

// Each concern file adds one declaration of its PyMethodDef entries here and
// one line in module.cpp's table.

// pickle.cpp: record_state(record), record_from_state(state). Constant-initialised
// pointers, so the table may copy them during dynamic initialisation.
extern const py::FastCall record_state, record_from_state;

} // namespace vellomar::ops
