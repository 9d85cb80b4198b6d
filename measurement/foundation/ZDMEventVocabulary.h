#pragma once
// The library's fixed event vocabulary: reserved public event names and their internal short names,
// the ecommerce and conversion names, the names of event-error codes, and the predicates over them.
// Every table is built once on first use (thread-safe) and never changes.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

// Reserved public event name to internal name (32 entries).
const Dictionary& ZDMPublicToInternalEventNameMap();
// Internal name to public name (31 keys: "_cmp" stands for two public names and answers
// "za_campaign").
const Dictionary& ZDMInternalToPublicEventNameMap();
// The reserved public names an application may still log ("ad_impression").
const Dictionary& ZDMLoggableReservedEventNameMap();
// Event-error code (the value of "_err") to its name; 25 codes have one.
const std::map<int64_t, std::string>& ZDMErrorCodeNameMap();

bool ZDMIsEcommerceEventName(std::string_view name);
bool ZDMIsEcommerceParameterName(std::string_view name);
bool ZDMIsConversionEventName(std::string_view name);
// A non-empty text not starting with "_". Anything else answers NO; a non-text (18002) and an empty
// text (18003) are logged.
bool ZDMIsPublicName(const Value& name);
bool ZDMIsNotErrorEventName(std::string_view name);
// Whether any of "_si", "_sc", "_sn" is present, and a dictionary of just those present.
bool ZDMParametersContainScreenParameters(const Dictionary& parameters);
Dictionary ZDMScreenParametersFromParameters(const Dictionary& parameters);
