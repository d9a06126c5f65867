// The functions of the private entry vellomar._ops, on which the package
// builds its own functions (tables, editing, reading). Each concern defines
// its functions in its own file and lists them here; module.cpp registers them.
#pragma once

#include "../binding/object.hpp"
#include "../core/definitions.hpp"

namespace vellomar::fhir {
struct Maps;
}

namespace vellomar::ops {

// Each concern file adds one declaration of its PyMethodDef entries here and
// one line in module.cpp's table.

// edit.cpp: edit, values, escape (ended by a null entry; added at init).
extern PyMethodDef edit_defs[];

// read.cpp: read_messages(read, close, codec_of, encoding, skip,
// error_type), the iterator behind vellomar.Reader.
extern const py::Signature read_messages_sig;
py::Ref read_messages(PyObject **args);

// table.cpp: table_state(names, paths, rows, errors, provenance, budget), the
// state behind vellomar.Table; count_messages(read, limit) and
// message_offsets(read, limit), the messages of the first bytes of a stream.
extern const py::Signature table_state_sig, count_messages_sig, message_offsets_sig;
py::Ref table_state(PyObject **args);
py::Ref count_messages(PyObject **args);
py::Ref message_offsets(PyObject **args);

// paths.cpp: check_path(path), the syntax error of a terser path or None.
extern const py::Signature check_path_sig;
py::Ref check_path(PyObject **args);

// tsv.cpp: tsv_line(message, paths), the line that `get` prints.
extern const py::Signature tsv_line_sig;
py::Ref tsv_line(PyObject **args);

// pickle.cpp: record_state(record) and record_from_state(state), the halves
// of the reducers that the package registers for pickling.
extern const py::Signature record_state_sig, record_from_state_sig;
py::Ref record_state(PyObject **args);
py::Ref record_from_state(PyObject **args);

// frame.cpp: parse_bytes(data, codec), the message of one frame's bytes.
extern const py::Signature parse_bytes_sig;
py::Ref parse_bytes(PyObject **args);

// charset.cpp: charset_of(data), MSH-18 of the first MSH segment of bytes,
// or of a Message's header; message_start(data, start), the first message
// start in bytes (-1 for none).
extern const py::Signature charset_of_sig, message_start_sig;
py::Ref charset_of(PyObject **args);
py::Ref message_start(PyObject **args);

// write.cpp: message_bytes(message, line_end, framed, codec), one message
// as vellomar.write puts it in a file.
extern const py::Signature message_bytes_sig;
py::Ref message_bytes(PyObject **args);

// structure.cpp: load_definitions(text), structure(message, version, group,
// segment_ref), validate_function(function, finding, load), the package's
// validate, and describe(message, path, version); definitions() is the
// loaded record or null.
extern const py::Signature load_definitions_sig, structure_sig, validate_function_sig,
    describe_sig;
py::Ref load_definitions(PyObject **args);
py::Ref structure(PyObject **args);
py::Ref validate_function(PyObject **args);
py::Ref describe(PyObject **args);
const Definitions *definitions();

// fhir.cpp: fhir_load(text), the package's maps; fhir_mapping(text), a
// user's maps over them; fhir_convert(message, bundle_type, mapping, mode);
// fhir_uuid5(name, portable), an id on a chosen SHA-1 road.
extern const py::Signature fhir_load_sig, fhir_mapping_sig, fhir_convert_sig, fhir_uuid5_sig;
py::Ref fhir_load(PyObject **args);
py::Ref fhir_mapping(PyObject **args);
py::Ref fhir_convert(PyObject **args);
py::Ref fhir_uuid5(PyObject **args);
// The maps of `mapping` (None: the package's own), or null with an error set.
const fhir::Maps *fhir_maps_of(PyObject *mapping);

// files.cpp: write_behind(fd), a file's written bytes sent to its device
// without waiting for them.
extern const py::Signature write_behind_sig;
py::Ref write_behind(PyObject **args);

// fhir_bulk.cpp: fhir_reader(read, codec_of, encoding), batches of the
// messages of a byte stream, each converted to NDJSON lines at once.
extern const py::Signature fhir_reader_sig;
py::Ref fhir_reader(PyObject **args);

} // namespace vellomar::ops
