#pragma once
// Carbon events, as far as hot keys need them: a process registers system-wide hot keys on the
// application's event target and installs handlers there for the keyboard events they send. A
// press of a registered hot key sends "pressed" and its release "released" to the handlers of the
// application target, on the main run loop; the keys go no further.
#include <cstddef>
#include <cstdint>

#include "platform/carbon/MacTypes.h"

using OSType = uint32_t;
using OptionBits = uint32_t;
using ItemCount = size_t;
using ByteCount = size_t;
using EventParamName = OSType;
using EventParamType = OSType;

struct OpaqueEventRef;
struct OpaqueEventTargetRef;
struct OpaqueEventHandlerRef;
struct OpaqueEventHandlerCallRef;
struct OpaqueEventHotKeyRef;
using EventRef = OpaqueEventRef*;
using EventTargetRef = OpaqueEventTargetRef*;
using EventHandlerRef = OpaqueEventHandlerRef*;
using EventHandlerCallRef = OpaqueEventHandlerCallRef*;
using EventHotKeyRef = OpaqueEventHotKeyRef*;

struct EventHotKeyID {
    OSType signature;
    uint32_t id;
};

struct EventTypeSpec {
    OSType eventClass;
    uint32_t eventKind;
};

using EventHandlerUPP = OSStatus (*)(EventHandlerCallRef nextHandler, EventRef event, void* userData);

inline constexpr OSStatus eventNotHandledErr = -9874;
inline constexpr OSStatus eventParameterNotFoundErr = -9870;
inline constexpr OSStatus eventHotKeyExistsErr = -9878;
inline constexpr OSStatus eventHotKeyInvalidErr = -9879;

// Modifier bits of a hot key.
inline constexpr uint32_t cmdKey = 0x0100;
inline constexpr uint32_t shiftKey = 0x0200;
inline constexpr uint32_t optionKey = 0x0800;
inline constexpr uint32_t controlKey = 0x1000;

// The hot-key modifier bits of the view kit's modifier flags (⌘ 0x100000, ⇧ 0x20000, ⌥ 0x80000,
// ⌃ 0x40000); every other flag is left out.
constexpr uint32_t carbonModifiersFromCocoaFlags(uint64_t flags) {
    return ((flags & 0x100000) ? cmdKey : 0) | ((flags & 0x20000) ? shiftKey : 0) |
           ((flags & 0x80000) ? optionKey : 0) | ((flags & 0x40000) ? controlKey : 0);
}

inline constexpr OSType kEventClassKeyboard = 0x6B657962;  // 'keyb'
inline constexpr uint32_t kEventHotKeyPressed = 5;
inline constexpr uint32_t kEventHotKeyReleased = 6;
inline constexpr EventParamName kEventParamDirectObject = 0x2D2D2D2D;  // '----'
inline constexpr EventParamType typeEventHotKeyID = 0x686B6964;        // 'hkid'

EventTargetRef GetApplicationEventTarget();

// Fails with eventHotKeyExistsErr when these keys are a hot key already.
OSStatus RegisterEventHotKey(uint32_t keyCode, uint32_t modifiers, EventHotKeyID hotKeyID,
                             EventTargetRef target, OptionBits options, EventHotKeyRef* outRef);
OSStatus UnregisterEventHotKey(EventHotKeyRef hotKey);

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, ItemCount numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef);
OSStatus RemoveEventHandler(EventHandlerRef handler);

OSType GetEventClass(EventRef event);
uint32_t GetEventKind(EventRef event);
OSStatus GetEventParameter(EventRef event, EventParamName name, EventParamType desiredType,
                           EventParamType* outActualType, ByteCount bufferSize, ByteCount* outActualSize,
                           void* outData);
