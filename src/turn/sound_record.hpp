// The fast look at a turn record's shape: what the command line checks before it
// hands a record to the engine.
#pragma once

#include "binding/ref.hpp"

namespace pm {

// True when `record` is made only of the exact types JSON decodes to and has every
// field the engine reads, with the types it reads them as. False means only "look
// closer": the shape checks written in Python then name the place that is wrong.
// Runs no Python code.
bool plainly_sound_record(PyObject* record);

}  // namespace pm
