#include "platform/appkit/NSWorkspace.h"

#include "platform/foundation/SharedInstance.h"

namespace {
constinit SharedInstance<NSWorkspace> sharedWorkspaceInstance;
}  // namespace

std::shared_ptr<NSWorkspace> NSWorkspace::sharedWorkspace() {
    return sharedWorkspaceInstance.get();
}
