#pragma once
// Readable names and parameter lists for the monitor's log lines. In debug mode, with the debug
// view's class present, an internal short name is shown with its public name ("screen_view (_vs)"),
// and parameter dictionaries are listed one entry per line, sorted without regard to case. Outside
// debug mode everything is shown as it is. Never fails; callable from any thread.
#include <string>

#include "platform/foundation/Value.h"

std::string ZDMEventNameForLog(const Value& name);
std::string ZDMParameterNameForLog(const Value& name);
// "experiment_id (<name>)" for an experiment's property ("_exp_…"), in any mode.
std::string ZDMUserPropertyNameForLog(const Value& name);
// The first public name that maps to `name` and does not start with "zudedaro_", else the last one.
std::string ZDMNameForLog(const Value& name, const Dictionary& publicToInternal);
std::string ZDMParametersDescriptionForLog(const Value& parameters);
// "{\n" + one "<indent>    <name> = <value>;\n" line per entry + "<indent>}".
std::string ZDMDictionaryDescriptionForLog(const Value& dictionary, const std::string& indent);
// "[\n" + the entries indented by four spaces, joined by ",\n" + "\n    ]".
std::string ZDMArrayDescriptionForLog(const Value& array);
