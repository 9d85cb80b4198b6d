#pragma once
// The reserved error parameters that record what the application did wrong: "_err" (the event-error
// code), "_ev" (the offending name or value, cut to a limit with "..." appended) and "_el" (the
// offending value's length in scalar values, or an array's item count), kept as ZDMValues. Only the
// first problem of an event is ever recorded. Also the internal "_err" event that reports refused
// input of the public interface.
#include <cstdint>
#include <string>

#include "platform/foundation/Value.h"

// Sets "_ev" (and "_el" when a value is given, i.e. not null) unless "_ev" or "_el" is present.
// A null name reads "(nil)", a non-text its class name.
void ZDMAddErrorEventParameters(Dictionary& parameters, const Value& name, int64_t limit,
                                const Value& value = Value());
void ZDMSetErrorCodeIfAbsent(Dictionary& parameters, int64_t code);
// Records the problem only when none of "_err", "_ev", "_el" is present yet.
void ZDMAddErrorParametersIfAbsent(Dictionary& parameters, int64_t code, const Value& name, int64_t limit,
                                   const Value& value = Value());
// Records the array failure codes of the validator (10-13) as their event-error codes.
void ZDMAddArrayParameterError(Dictionary& parameters, uint64_t failureCode, const std::string& parameterName,
                               const std::string& eventName);

// Log the internal event "_err" from origin "auto"; code 0 logs nothing. The value goes into "_el"
// only for codes 4 and 7 or a text longer than the limit.
void ZDMLogErrorEvent(int64_t code);
void ZDMLogErrorEventWithParameter(int64_t code, const Value& name, int64_t limit, const Value& value);
