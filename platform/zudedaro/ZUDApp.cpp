#include "platform/zudedaro/ZUDApp.h"

#include <atomic>

namespace {
std::atomic<bool> configured{false};
}

void ZUDApp::configure() {
    configured = true;
}

bool ZUDApp::isDefaultAppConfigured() {
    return configured.load();
}
