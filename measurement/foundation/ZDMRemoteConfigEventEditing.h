#pragma once
// The event-editing program a configuration may carry, as the remote configuration sees it. The
// interpreter lives in a layer above this one; it installs a factory of its editing instances
// here. Until it does, the stand-in made by ZDMMakeProgramlessEventEditing loads only a Program
// with nothing to run and refuses any other, so a configuration with real programs turns event
// editing off instead of pretending to run them.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

class ZDMEvent;
class ZDMPBProgram;

class ZDMRemoteConfigEventEditing {
  public:
    // What the library offers programs besides the interpreter's own modules.
    struct HostModules {
        // "internal.remoteConfig": the setting's text (a converted number in plain decimal) or null.
        std::function<Value(const std::string& key)> remoteConfigValue;
        // "internal.appMetadata": a fresh dictionary on every call.
        std::function<Dictionary()> appMetadata;
        // "internal.logger" needs nothing from the configuration: the interpreter's logger
        // forwards program lines to the monitor.
    };

    virtual ~ZDMRemoteConfigEventEditing() = default;
    // Registers "internal.remoteConfig", "internal.appMetadata" and "internal.logger".
    virtual void setHostModules(HostModules modules) = 0;
    // False with an error when the program cannot be loaded.
    virtual bool loadProgram(const ZDMPBProgram& program, Error* error) = 0;

    // What the engine stores for one event when editing succeeded: the edited event in place of
    // the received one (nullptr: the received one as it is), then the created events.
    struct EditedEvents {
        std::shared_ptr<ZDMEvent> editedEvent;
        std::vector<std::shared_ptr<ZDMEvent>> createdEvents;
    };
    // The engine's entry for every event it is about to store while event editing is on. False
    // with the failure when the program failed on it: the engine then stores the event as
    // received. Without a program that runs (the stand-in) nothing is edited or created.
    virtual bool editEvent(const ZDMEvent&, EditedEvents* edited, Error*) {
        *edited = {};
        return true;
    }

    using Factory = std::function<std::shared_ptr<ZDMRemoteConfigEventEditing>()>;
    // Null puts the stand-in back.
    static void setFactory(Factory factory);
    static std::shared_ptr<ZDMRemoteConfigEventEditing> make();
};

std::shared_ptr<ZDMRemoteConfigEventEditing> ZDMMakeProgramlessEventEditing();
