#include "measurement/interpreter/ZDMPConfigurationEventEditing.h"

#include "measurement/foundation/ZDMErrors.h"
#include "measurement/foundation/ZDMEvent.h"
#include "measurement/interpreter/ZDMEventEditing.h"
#include "measurement/interpreter/ZDMPConversions.h"

namespace {
constexpr int64_t kRefusedEditedEvent = 1;
}  // namespace

void ZDMPConfigurationEventEditing::setHostModules(HostModules modules) {
    std::lock_guard lock(mutex_);
    editing_.setModuleCreator(
        [read = modules.remoteConfigValue] {
            return std::make_shared<ZDMPKeyValueStore>(
                u"internal.remoteConfig", [read](const std::u16string& key) -> std::optional<std::u16string> {
                    const Value answer = read ? read(ZDMPUtf8(key)) : Value();
                    if (const std::string* text = answer.asString()) return ZDMPUtf16(*text);
                    return std::nullopt;
                });
        },
        u"internal.remoteConfig");
    editing_.setModuleCreator(
        [facts = modules.appMetadata] {
            return std::make_shared<ZDMPObjectProvider>(u"internal.appMetadata",
                                                        [facts] { return facts ? Value(facts()) : Value(); });
        },
        u"internal.appMetadata");
    editing_.setModuleCreator(
        [] { return std::make_shared<ZDMPMessageLogger>(std::make_shared<ZDMPixieLogger>()); },
        u"internal.logger");
}

bool ZDMPConfigurationEventEditing::loadProgram(const ZDMPBProgram& program, Error* error) {
    std::lock_guard lock(mutex_);
    return editing_.loadProgram(program, error);
}

bool ZDMPConfigurationEventEditing::editEvent(const ZDMEvent& event, EditedEvents* edited, Error* error) {
    std::lock_guard lock(mutex_);
    *edited = {};
    // The result only says whether anything changed; the failure is what matters here.
    Error failure;
    editing_.handleEvent(ZDMEventEditEvent(event), &failure);
    if (ZDMPFailed(failure)) {
        setError(error, std::move(failure));
        return false;
    }
    const ZDMPEventContext& context = editing_.eventContext();
    if (editing_.hasEdits()) {
        edited->editedEvent = ZDMEventFromEditEvent(*context.outputEvent());
        if (!edited->editedEvent) {
            ZDMSetError(error, kRefusedEditedEvent, "Edited event refused: " + context.outputEvent()->name());
            return false;
        }
    }
    for (const auto& created : context.eventsToLog())
        if (auto stored = ZDMEventFromEditEvent(*created)) edited->createdEvents.push_back(std::move(stored));
    return true;
}

void ZDMPInstallEventEditingFactory() {
    ZDMRemoteConfigEventEditing::setFactory([] { return std::make_shared<ZDMPConfigurationEventEditing>(); });
}
