#pragma once
// What a channel group and its channel units both offer: observers, and pausing under the name of
// an identifying object. A channel stays paused while any object that paused it, and is still
// alive, has not resumed it.
#include <memory>

#include "DudIzizoz/Internals/Util/DIZEnable.h"

class DIZChannelDelegate;

// Any shared object may pause a channel; the channel holds it weakly and compares it by identity.
using DIZIdentifyingObject = std::shared_ptr<const void>;

class DIZChannelProtocol : public DIZEnable {
  public:
    // Held weakly; a delegate added twice is called once.
    virtual void addDelegate(const std::shared_ptr<DIZChannelDelegate>& delegate) = 0;
    virtual void removeDelegate(const std::shared_ptr<DIZChannelDelegate>& delegate) = 0;
    // Stops sending until every object that paused the channel has resumed it (or is gone);
    // logs are still stored meanwhile.
    virtual void pauseWithIdentifyingObject(const DIZIdentifyingObject& identifyingObject) = 0;
    virtual void resumeWithIdentifyingObject(const DIZIdentifyingObject& identifyingObject) = 0;
};
