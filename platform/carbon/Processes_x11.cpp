#include "platform/carbon/ProcessesBackend.h"
#include "platform/windowserver/X11Desktop.h"

namespace {
// A process is an application of the display while a window of the window manager names it.
class X11Processes final : public ProcessesBackend {
  public:
    bool hasApplication(pid_t pid) override { return X11Desktop::current()->hasApplication(pid); }
};
}  // namespace

ProcessesBackend& x11Processes() {
    static X11Processes backend;
    return backend;
}
