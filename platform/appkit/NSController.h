#pragma once
// The root of the controllers that mediate between views and model objects through bindings. Their
// change notices may come without the new value, so an observer of a controller reads it again.
#include "platform/foundation/KeyValueObserving.h"

class NSController : public NSKeyValueObserving {};
