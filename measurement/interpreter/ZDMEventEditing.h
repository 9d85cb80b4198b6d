#pragma once
// The measurement event to and from the interpreter's event. They live with the interpreter, which
// sits above the event's layer: the event knows nothing of the interpreter.
#include <memory>

class ZDMEvent;
class ZDMPEvent;

// Public name when the event has one, the time, and the parameters as plain values (arrays one
// level deep; values that are not measurement values are left out).
std::shared_ptr<ZDMPEvent> ZDMEventEditEvent(const ZDMEvent& event);
// Back under the internal name, origin from the "_o" text (else "app"), previous time 0, public NO;
// nullptr when the event is refused.
std::shared_ptr<ZDMEvent> ZDMEventFromEditEvent(const ZDMPEvent& editEvent);
