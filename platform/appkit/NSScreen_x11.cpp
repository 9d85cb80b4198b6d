#include "platform/appkit/NSScreenBackend.h"
#include "platform/windowserver/X11Desktop.h"

namespace {
// The RandR monitors of the display.
class X11Screens final : public NSScreenBackend {
  public:
    std::vector<ScreenRecord> screens() override {
        std::vector<ScreenRecord> out;
        for (const auto& s : X11Desktop::current()->screens())
            out.push_back({s.id, s.bounds, s.visibleBounds});
        return out;
    }

    uint64_t addObserver(std::function<void()> changed) override {
        return X11Desktop::current()->addScreenObserver(std::move(changed));
    }
    void removeObserver(uint64_t token) override {
        if (auto* desktop = X11Desktop::current()) desktop->removeScreenObserver(token);
    }
};
}  // namespace

NSScreenBackend& x11Screens() {
    static X11Screens backend;
    return backend;
}
