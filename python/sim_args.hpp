#pragma once
// Argument conversions shared by the Sim methods: config dicts, optional
// ids, node lists, and the finiteness checks of numbers that feed a neuron.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string_view>
#include <vector>

#include "core/engine/sim_engine.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"
#include "python/args.hpp"

namespace vorn::py {

// A config argument: a dict (or, where allowed, None or omitted for no
// fields). Other types are argument errors.
bool arg_config_dict(PyObject* obj, const char* name, bool none_allowed, PyObject*& dict);

// The dict's items as a JsonObject, converted one value at a time from a
// snapshot of the items (conversions may run Python code). A value that is
// not JSON-compatible, NaN or infinite included, becomes null so that the
// core's validation reports it under its key; other exceptions propagate.
bool config_to_json(PyObject* dict, JsonObject& out);

// Parses an optional node or edge id (read with IdArg::read_optional),
// minting a fresh one when absent.
bool id_or_fresh(SimEngine& engine, const IdArg& id, Uuid& out);

// Neurons given as a sequence of id strs (each must be in the engine) or as
// an index array: their dense indices, and their ids as a new list of strs
// in ids_out when it is not null.
bool arg_nodes(PyObject* obj, const char* name, const SimEngine& engine,
               std::vector<std::int64_t>& out, PyObject** ids_out);

// ValueError "{name} is not finite: {value}" for a value that is not.
bool check_finite(const char* name, float value);

}  // namespace vorn::py
