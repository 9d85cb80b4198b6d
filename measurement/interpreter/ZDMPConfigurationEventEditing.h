#pragma once
// The interpreter's event editing as the remote configuration loads it and the engine calls it:
// the library's three host modules, the program, and each measurement event in its edit form.
#include <memory>
#include <mutex>

#include "measurement/foundation/ZDMRemoteConfigEventEditing.h"
#include "measurement/interpreter/ZDMPEventEditing.h"

class ZDMPConfigurationEventEditing final : public ZDMRemoteConfigEventEditing {
  public:
    // "internal.remoteConfig" a key-value store over the settings, "internal.appMetadata" an
    // object provider of the application facts, "internal.logger" a message logger to the monitor.
    void setHostModules(HostModules modules) override;
    bool loadProgram(const ZDMPBProgram& program, Error* error) override;
    // An edited event whose name the library refuses fails the run (the received event is
    // stored); a created event the library refuses is left out.
    bool editEvent(const ZDMEvent& event, EditedEvents* edited, Error* error) override;

  private:
    // Loading (configuration queue) and events (worker queue) may come from different threads.
    std::mutex mutex_;
    ZDMPEventEditing editing_;
};

// Makes the remote configuration build its event editing with this interpreter; the application
// calls it once at start, before the first configuration is parsed.
void ZDMPInstallEventEditingFactory();
