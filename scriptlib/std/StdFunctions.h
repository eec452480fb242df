// The standard script functions: strings, dates and times, numbers, and
// variables and selection. Every interpreter of the pool gets all of them,
// before the engine functions and level procedures.
//
// Each routine checks its argument count first and answers false when it
// does not match; "VAR" arguments (Val, Insert, Delete, DecodeDate,
// DecodeTime) must be written as names of existing variables. Conversion and
// arithmetic errors are thrown as ScriptError and reported by the
// interpreter with their text ("'abc' is not a valid integer value",
// "Division by zero").
#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "script/scriptengine.h"

namespace nb {

// The current local date-time (days since 30 December 1899), read by Now,
// Date, Time and by StrToDate for a date written without its year.
using TNowSource = std::function<double()>;

struct TStdFunction {
    std::string_view name;  // as registered; the engine stores it upper-cased
    TScriptRoutine routine;
};

// The fifty-nine standard functions in registration order: strings (17),
// date and time (14), numbers (18), variables and selection (10).
std::vector<TStdFunction> MakeStdFunctions(TNowSource now);

// Registers the standard functions with SetFunction, reading the system's
// local time (or the given source, for tests and replays).
void RegisterStdFunctions(TScriptEngine& engine);
void RegisterStdFunctions(TScriptEngine& engine, TNowSource now);

}  // namespace nb
