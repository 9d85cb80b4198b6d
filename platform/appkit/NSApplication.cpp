#include "platform/appkit/NSApplication.h"

#include <atomic>

#include "platform/appkit/NSResponder.h"
#include "platform/appkit/NSScreen.h"
#include "platform/appkit/NSScreenBackend.h"
#include "platform/appkit/NSWindow.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/SharedInstance.h"
#include "platform/foundation/SystemLog.h"
#include "platform/windowserver/SimulatedDesktop.h"

namespace {
constinit SharedInstance<NSApplication> sharedApp;

bool isKeyEvent(NSEventType type) {
    return type == NSEventType::KeyDown || type == NSEventType::KeyUp || type == NSEventType::FlagsChanged;
}

// The event the application makes of an input event: for the window it names, or else, for the
// mouse, for the front window under the pointer (or none). Null for a key meant for no window of
// this process (it goes to the frontmost application) and for a window that has gone.
std::shared_ptr<NSEvent> applicationEvent(const SimulatedInputEvent& input) {
    const auto type = static_cast<NSEventType>(input.type);
    if (input.windowNumber) {
        auto window = NSWindow::windowWithNumber(input.windowNumber);
        if (!window) return nullptr;
        return isKeyEvent(type)
                   ? NSEvent::keyEvent(type, input.keyCode, input.characters, input.modifierFlags, window)
                   : NSEvent::mouseEvent(type, input.location, window, input.modifierFlags);
    }
    if (isKeyEvent(type)) return nullptr;
    auto screens = NSScreen::screens();
    CGFloat primaryTop = screens.empty() ? 0 : screens.front()->frame().maxY();
    CGPoint onScreen{input.location.x, primaryTop - input.location.y};
    std::shared_ptr<NSWindow> under;
    for (const auto& window : NSWindow::orderedWindows()) {
        if (CGRectContainsPoint(window->frame(), onScreen)) {
            under = window;
            break;
        }
    }
    auto event = NSEvent::mouseEvent(type, under ? under->convertPointFromScreen(onScreen) : onScreen, under,
                                     input.modifierFlags);
    event->setCGEventLocation(input.location);
    return event;
}

// Input reaches whichever application is shared when it comes, after the session's hotkeys.
bool deliverToApplication(const SimulatedInputEvent& input) {
    auto app = sharedApp.existing();
    auto event = app ? applicationEvent(input) : nullptr;
    if (!event) return false;
    app->sendEvent(event);
    return true;
}

void listenToInput() {
    static auto* subscription = new SimulatedInputSubscription(SimulatedDesktop::shared().subscribeToInput(
        SimulatedDesktop::InputStage::Application, deliverToApplication));
    (void)subscription;
}
}  // namespace

std::shared_ptr<NSApplication> NSApplication::sharedApplication() {
    listenToInput();
    return sharedApp.get();
}

bool NSApplication::presentError(const Error& error) {
    presentedErrors_.push_back({error, {}, false});
    return false;
}

void NSApplication::presentErrorModalForWindow(const Error& error, const std::shared_ptr<NSWindow>& window) {
    presentedErrors_.push_back({error, window, true});
}

void NSApplication::resetSharedApplication() {
    sharedApp.reset();
}

NSApplication::NSApplication() : screens_(&NSScreenBackend::current()) {
    // Screen changes reach the application as events of its run loop, hence the main queue.
    screenObserver_ = screens_->addObserver([this] {
        DispatchQueue::main()->async([this] {
            if (sharedApp.existing().get() == this) post(NSApplicationDidChangeScreenParametersNotification);
        });
    });
}

NSApplication::~NSApplication() {
    screens_->removeObserver(screenObserver_);
}

void NSApplication::post(const char* name) {
    NotificationCenter::defaultCenter().post(name, this);
}

void NSApplication::finishLaunching() {
    if (launched_) return;
    launched_ = true;
    Notification notification{NSApplicationWillFinishLaunchingNotification, this, {}};
    if (delegate_) delegate_->applicationWillFinishLaunching(notification);
    if (auto observer = delegateObserver_.lock()) observer->applicationWillFinishLaunching(notification);
    post(NSApplicationWillFinishLaunchingNotification);
    notification.name = NSApplicationDidFinishLaunchingNotification;
    if (delegate_) delegate_->applicationDidFinishLaunching(notification);
    if (auto observer = delegateObserver_.lock()) observer->applicationDidFinishLaunching(notification);
    post(NSApplicationDidFinishLaunchingNotification);
}

void NSApplication::run() {
    finishLaunching();
    if (terminated_) return;
    running_ = true;
    RunLoop::run();
    running_ = false;
}

void NSApplication::reopen(bool hasVisibleWindows) {
    bool handled = delegate_ ? delegate_->applicationShouldHandleReopen(*this, hasVisibleWindows) : true;
    if (auto observer = delegateObserver_.lock())
        observer->applicationShouldHandleReopen(hasVisibleWindows, handled);
}

void NSApplication::terminate(const void*) {
    if (terminating_ || terminated_) return;
    terminating_ = true;
    Notification notification{NSApplicationWillTerminateNotification, this, {}};
    if (delegate_) delegate_->applicationWillTerminate(notification);
    if (auto observer = delegateObserver_.lock()) observer->applicationWillTerminate(notification);
    post(NSApplicationWillTerminateNotification);
    terminating_ = false;
    terminated_ = true;
    if (running_) RunLoop::stop();
}

bool NSApplication::sendAction(std::string_view action, NSObject* target, NSObject* sender) {
    if (target) return target->performSelector(action, sender);
    if (auto window = NSWindow::keyWindow()) {
        NSResponder* first = window->firstResponder();
        for (NSResponder* r = first ? first : window.get(); r; r = r->nextResponder())
            if (r->performSelector(action, sender)) return true;
    }
    auto delegate = std::dynamic_pointer_cast<NSObject>(delegate_);
    return delegate && delegate->performSelector(action, sender);
}

std::shared_ptr<NSObject> NSApplication::targetForAction(std::string_view action, NSObject* target,
                                                         NSObject* sender) {
    if (!target) return nullptr;
    if (target->respondsToSelector(action)) return target->weak_from_this().lock();
    if (auto* responder = dynamic_cast<NSResponder*>(target)) {
        auto supplemental = responder->supplementalTargetForAction(action, sender);
        if (supplemental && supplemental->respondsToSelector(action)) return supplemental;
    }
    return nullptr;
}

void NSApplication::activateIgnoringOtherApps(bool) {
    if (active_) return;
    post(NSApplicationWillBecomeActiveNotification);
    active_ = true;
    post(NSApplicationDidBecomeActiveNotification);
}

void NSApplication::deactivate() {
    if (!active_) return;
    post(NSApplicationWillResignActiveNotification);
    active_ = false;
    post(NSApplicationDidResignActiveNotification);
}

namespace {
std::atomic<NSApplication::SendEventImplementation> sendEventImplementation_{nullptr};
std::atomic<NSApplication::ReportExceptionImplementation> reportExceptionImplementation_{nullptr};
}  // namespace

NSApplication::SendEventImplementation NSApplication::sendEventImplementation() {
    const auto implementation = sendEventImplementation_.load();
    return implementation ? implementation : &NSApplication::deliverEvent;
}

NSApplication::ReportExceptionImplementation NSApplication::reportExceptionImplementation() {
    const auto implementation = reportExceptionImplementation_.load();
    return implementation ? implementation : &NSApplication::logException;
}

NSApplication::SendEventImplementation NSApplication::setSendEventImplementation(
    SendEventImplementation implementation) {
    const auto replaced = sendEventImplementation_.exchange(implementation);
    return replaced ? replaced : &NSApplication::deliverEvent;
}

NSApplication::ReportExceptionImplementation NSApplication::setReportExceptionImplementation(
    ReportExceptionImplementation implementation) {
    const auto replaced = reportExceptionImplementation_.exchange(implementation);
    return replaced ? replaced : &NSApplication::logException;
}

void NSApplication::sendEvent(const std::shared_ptr<NSEvent>& event) {
    sendEventImplementation()(*this, event);
}

void NSApplication::reportException(const ExceptionRecord& exception) {
    reportExceptionImplementation()(*this, exception);
}

void NSApplication::logException(NSApplication&, const ExceptionRecord& exception) {
    systemLog(SystemLogLevel::Error, exception.name() + ": " + exception.reason());
}

void NSApplication::deliverEvent(NSApplication&, const std::shared_ptr<NSEvent>& event) {
    auto passed = NSEvent::runLocalMonitors(event);
    if (!passed) return;
    auto target = passed->window();
    if (target) target->sendEvent(*passed);
    // The pointer left whatever the other windows track; and, as at the end of a run-loop turn,
    // every window draws what the event changed.
    auto windows = NSWindow::orderedWindows();
    if (passed->type() == NSEventType::MouseMoved) {
        CGPoint onScreen =
            target ? target->convertPointToScreen(passed->locationInWindow()) : passed->locationInWindow();
        for (const auto& window : windows) {
            if (window == target) continue;
            auto moved = NSEvent::mouseEvent(NSEventType::MouseMoved,
                                             window->convertPointFromScreen(onScreen), window);
            moved->setCGEventLocation(passed->cgEventLocation());
            window->sendEvent(*moved);
        }
    }
    for (const auto& window : windows) window->displayIfNeeded();
}

int NSApplicationMain(std::shared_ptr<NSApplicationDelegate> delegate) {
    auto app = NSApplication::sharedApplication();
    app->setDelegate(std::move(delegate));
    app->run();
    return 0;
}
