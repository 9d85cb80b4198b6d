#include "platform/appkit/NSScreenBackend.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace {
class SimulatedScreens final : public NSScreenBackend {
  public:
    std::vector<ScreenRecord> screens() override {
        std::vector<ScreenRecord> out;
        for (const auto& s : SimulatedDesktop::shared().screens()) {
            CGRect visible{s.bounds.origin.x + s.insetLeft, s.bounds.origin.y + s.insetTop,
                           s.bounds.size.width - s.insetLeft - s.insetRight,
                           s.bounds.size.height - s.insetTop - s.insetBottom};
            out.push_back({s.displayID, s.bounds, visible});
        }
        return out;
    }

    uint64_t addObserver(std::function<void()> changed) override {
        return SimulatedDesktop::shared().addScreenObserver(std::move(changed));
    }
    void removeObserver(uint64_t token) override { SimulatedDesktop::shared().removeScreenObserver(token); }
};
}  // namespace

NSScreenBackend& simulatedScreens() {
    static SimulatedScreens backend;
    return backend;
}
