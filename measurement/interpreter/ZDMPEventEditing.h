#pragma once
// Runs the configuration's event-editing program: loading runs its top-level instructions and its
// activities, which register "edit" and "create" callbacks; every event handed in then goes
// through those callbacks, edits landing on a working copy and created events in a list. Editing
// never drops an event. One event at a time, on the measurement worker queue.
#include <memory>
#include <string>

#include "measurement/interpreter/ZDMPEditingCallbackHandler.h"
#include "measurement/interpreter/ZDMPEventContext.h"
#include "measurement/interpreter/ZDMPRuntime.h"

class ZDMPEventEditing {
  public:
    ZDMPEventEditing();
    // Registers "internal.registerCallback" and "internal.eventLogger" on the runtime.
    explicit ZDMPEventEditing(std::shared_ptr<ZDMPRuntime> runtime);
    ~ZDMPEventEditing();
    ZDMPEventEditing(const ZDMPEventEditing&) = delete;
    ZDMPEventEditing& operator=(const ZDMPEventEditing&) = delete;

    void setModuleCreator(ZDMPModuleCreator creator, const std::u16string& name);

    // Top-level instructions (which must not end in break, continue or return: editing code 5),
    // then each activity; the first failure ends loading.
    bool loadProgram(const ZDMPBProgram& program, Error* error);
    // Each entity of the activity must give a map (editing code 6), handed to the rule function
    // the activity names.
    bool loadActivityData(const ZDMPBOgtActivity& activity, Error* error);
    // Calls the global function `name` (editing code 7 when it is none) with the rule map.
    bool registerRuleWithName(const std::u16string& name, const ZDMPValueRef& rule, Error* error);

    // Runs every callback over a copy of `event` within one fresh statement budget. True when the
    // copy was changed or events were created; false with the failure when a callback failed.
    bool handleEvent(const std::shared_ptr<ZDMPEvent>& event, Error* error);
    bool hasEdits() const;
    bool hasCreatedEvents() const;
    const ZDMPEventContext& eventContext() const { return *eventContext_; }

    ZDMPRuntime& runtime() { return *runtime_; }

  private:
    // Frees the scopes and values of past runs that nothing reachable holds any more.
    void reclaim();

    std::shared_ptr<ZDMPRuntime> runtime_;
    std::shared_ptr<ZDMPEventContext> eventContext_;
    std::shared_ptr<ZDMPEditingCallbackHandler> callbackHandler_;
};
