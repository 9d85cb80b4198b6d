#pragma once
// Cleans an event's parameters before the event keeps them. It never refuses the event: what breaks
// a rule is dropped or cut, and the first problem met (in the dictionary's order) is recorded in the
// event's own error parameters "_err", "_ev" and "_el". Limits come from the installed remote
// configuration. Internal parameters (names starting with "_") never count against a limit and are
// never trimmed. Callable from any thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

class ZDMValue;

// Name to ZDMValue; nullopt for empty input. An empty event name stands for none (default
// parameters). Item mode sanitises one entry of an "items" array.
std::optional<Dictionary> ZDMSanitizeEventParameters(const Dictionary& parameters,
                                                     const std::string& eventName, bool isPublic,
                                                     bool itemMode);
// The "items" array of ecommerce events: at most 200 dictionaries, each sanitised in item mode.
// nullptr when the array is refused; `failureCode` gets the validator's code (12 when cut).
std::shared_ptr<const ZDMValue> ZDMSanitizeArrayParameter(const Value::Array& array,
                                                          const std::string& parameterName,
                                                          const std::string& eventName,
                                                          Dictionary& errorParameters, bool nested,
                                                          bool isPublic, uint64_t* failureCode);
// Records a refused name as "_err" 14 (reserved) or 3 unless an error is recorded already.
bool ZDMIsValidEventParameterName(const std::string& name, bool isPublic, Dictionary& errorParameters);
// Public names; in item mode only those that are not ecommerce parameter names.
size_t ZDMCountPublicParameters(const Dictionary& parameters, bool itemMode);
// Removes public names from the one that sorts last until at most `limit` are left.
void ZDMTrimPublicParameters(Dictionary& parameters, int64_t limit, bool itemMode);
void ZDMTrimPublicParametersToCount(Dictionary& parameters, int64_t limit);
// A "value" must be numeric and come with a valid "currency"; otherwise it is removed, recorded
// ("_err" 18 or 19) and the answer is NO.
bool ZDMValidateValueAndCurrency(Dictionary& parameters);
