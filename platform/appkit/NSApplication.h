#pragma once
// The application object: its delegate's life cycle (launch, reopen, terminate), the main run loop,
// and the notification of screen changes.
#include <memory>
#include <string_view>
#include <vector>

#include "platform/appkit/NSEvent.h"
#include "platform/appkit/NSMenu.h"
#include "platform/appkit/NSObject.h"
#include "platform/appkit/NSUserInterfaceLayoutDirection.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/NotificationCenter.h"

class ExceptionRecord;
class NSApplication;
class NSScreenBackend;
template <class T>
class SharedInstance;

inline constexpr const char* NSApplicationWillFinishLaunchingNotification =
    "NSApplicationWillFinishLaunchingNotification";
inline constexpr const char* NSApplicationDidFinishLaunchingNotification =
    "NSApplicationDidFinishLaunchingNotification";
inline constexpr const char* NSApplicationWillTerminateNotification =
    "NSApplicationWillTerminateNotification";
// Posted by the application object as it stops and starts being the active application.
inline constexpr const char* NSApplicationDidResignActiveNotification =
    "NSApplicationDidResignActiveNotification";
inline constexpr const char* NSApplicationWillBecomeActiveNotification =
    "NSApplicationWillBecomeActiveNotification";
inline constexpr const char* NSApplicationDidBecomeActiveNotification =
    "NSApplicationDidBecomeActiveNotification";
inline constexpr const char* NSApplicationWillResignActiveNotification =
    "NSApplicationWillResignActiveNotification";
// Posted by the application object, on the main queue, whenever a screen is attached or removed.
inline constexpr const char* NSApplicationDidChangeScreenParametersNotification =
    "NSApplicationDidChangeScreenParametersNotification";

class NSApplicationDelegate {
  public:
    virtual ~NSApplicationDelegate() = default;
    virtual void applicationWillFinishLaunching(const Notification&) {}
    virtual void applicationDidFinishLaunching(const Notification&) {}
    virtual bool applicationShouldHandleReopen(NSApplication&, bool /*hasVisibleWindows*/) { return true; }
    virtual void applicationWillTerminate(const Notification&) {}
};

// Follows the delegate's callbacks without being the delegate (the reporting client's forwarder
// uses it): each callback reaches it right after the delegate; for reopen it gets the delegate's
// answer and gives the final one.
class NSApplicationDelegateObserver {
  public:
    virtual ~NSApplicationDelegateObserver() = default;
    virtual void applicationWillFinishLaunching(const Notification&) {}
    virtual void applicationDidFinishLaunching(const Notification&) {}
    virtual bool applicationShouldHandleReopen(bool /*hasVisibleWindows*/, bool returnedValue) {
        return returnedValue;
    }
    virtual void applicationWillTerminate(const Notification&) {}
};

class NSWindow;

// An error the application showed the user: alone, or as a sheet on `window`.
struct NSPresentedError {
    Error error;
    std::weak_ptr<NSWindow> window;
    bool asSheet = false;
};

// An object like any other to target/action: actions without a target of their own go to it.
class NSApplication : public NSObject {
  public:
    static std::shared_ptr<NSApplication> sharedApplication();
    // Drops the shared instance, so a test can launch anew.
    static void resetSharedApplication();

    ~NSApplication();

    void setDelegate(std::shared_ptr<NSApplicationDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<NSApplicationDelegate> delegate() const { return delegate_; }
    // Held weakly; one at a time.
    void setDelegateObserver(std::weak_ptr<NSApplicationDelegateObserver> observer) {
        delegateObserver_ = std::move(observer);
    }

    // Will-finish-launching, then did-finish-launching, once.
    void finishLaunching();
    // Launches when not launched yet, then runs the main run loop until terminate.
    void run();
    bool isRunning() const { return running_; }
    // The user opened the application again while it runs.
    void reopen(bool hasVisibleWindows);
    // Tells the delegate that the application will terminate, then ends the run loop. A terminate
    // that arrives while terminating (the delegate may send one) does nothing.
    void terminate(const void* sender);
    bool isTerminated() const { return terminated_; }

    // Sends `action` to `target`; without one, along the key window's responder chain and then to
    // the delegate. True when some object answered it.
    bool sendAction(std::string_view action, NSObject* target, NSObject* sender);
    // The object that would answer `action`: `target` when it does, else what its supplemental
    // target offers; null when neither answers. (A null `target` finds nothing.)
    std::shared_ptr<NSObject> targetForAction(std::string_view action, NSObject* target, NSObject* sender);

    // Hands an input event to the local monitors and then to its window. The keyboard's and the
    // mouse's events come this way once the session's hotkeys have let them pass.
    void sendEvent(const std::shared_ptr<NSEvent>& event);
    // An exception raised on the main thread that the application reports rather than lets end the
    // process: it goes to the system log.
    void reportException(const ExceptionRecord& exception);

    // The implementations behind sendEvent and reportException, one per process. They can be
    // replaced as the platform lets any class's method be replaced: a setter answers the
    // implementation it replaced, so that the new one can call on to it. Thread-safe.
    using SendEventImplementation = void (*)(NSApplication& application,
                                             const std::shared_ptr<NSEvent>& event);
    using ReportExceptionImplementation = void (*)(NSApplication& application,
                                                   const ExceptionRecord& exception);
    static SendEventImplementation setSendEventImplementation(SendEventImplementation implementation);
    static ReportExceptionImplementation setReportExceptionImplementation(
        ReportExceptionImplementation implementation);
    static SendEventImplementation sendEventImplementation();
    static ReportExceptionImplementation reportExceptionImplementation();

    // Makes this the active application, in front of the others; an application that was not
    // active announces that it will become so, then that it did.
    void activateIgnoringOtherApps(bool flag);
    // Another application came to the front: an active application announces that it will resign,
    // then that it did.
    void deactivate();
    bool isActive() const { return active_; }

    std::shared_ptr<NSMenu> mainMenu() const { return mainMenu_; }
    void setMainMenu(std::shared_ptr<NSMenu> menu) { mainMenu_ = std::move(menu); }
    // Left-to-right unless the application's language reads the other way.
    NSUserInterfaceLayoutDirection userInterfaceLayoutDirection() const { return layoutDirection_; }
    void setUserInterfaceLayoutDirection(NSUserInterfaceLayoutDirection direction) {
        layoutDirection_ = direction;
    }

    // Whether the user moves the focus to every control with Tab (off unless the user turned it on).
    bool isFullKeyboardAccessEnabled() const { return fullKeyboardAccess_; }
    void setFullKeyboardAccessEnabled(bool enabled) { fullKeyboardAccess_ = enabled; }

    // Shows the error to the user. Headless, the alert is only recorded, and the user is taken to
    // have dismissed it at once.
    bool presentError(const Error& error);
    void presentErrorModalForWindow(const Error& error, const std::shared_ptr<NSWindow>& window);
    const std::vector<NSPresentedError>& presentedErrors() const { return presentedErrors_; }

  private:
    friend class SharedInstance<NSApplication>;
    NSApplication();
    void post(const char* name);
    static void deliverEvent(NSApplication& application, const std::shared_ptr<NSEvent>& event);
    static void logException(NSApplication& application, const ExceptionRecord& exception);

    std::shared_ptr<NSApplicationDelegate> delegate_;
    std::weak_ptr<NSApplicationDelegateObserver> delegateObserver_;
    std::shared_ptr<NSMenu> mainMenu_;
    NSUserInterfaceLayoutDirection layoutDirection_ = NSUserInterfaceLayoutDirection::LeftToRight;
    std::vector<NSPresentedError> presentedErrors_;
    bool fullKeyboardAccess_ = false;
    NSScreenBackend* screens_;  // whichever desktop the application was made on
    uint64_t screenObserver_ = 0;
    bool launched_ = false;
    bool running_ = false;
    bool terminating_ = false;
    bool terminated_ = false;
    bool active_ = false;
};

// The process entry's hand-over: sets the delegate and runs the application until it terminates.
int NSApplicationMain(std::shared_ptr<NSApplicationDelegate> delegate);
