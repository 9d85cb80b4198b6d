#pragma once
// Reserved public names and the short internal names under which the library stores and sends
// them. Each map is built once, on first use from any thread, and never changes.
#include "platform/foundation/Value.h"

// Public user-property name to internal name (ten entries).
const Dictionary& ZDMPublicToInternalUserPropertyNameMap();
// Public event-parameter name to internal name (54 entries; the "za_" names are twins of the
// "zudedaro_" ones).
const Dictionary& ZDMPublicToInternalParameterNameMap();
