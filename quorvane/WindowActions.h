#pragma once
// The two window actions behind the hotkeys: bring a window lying in a space to the front (or
// cycle among them), and move and resize the front application's window to fill a space. Every
// platform call is fire-and-forget: a failed step does not stop the later ones.
#include <string>

#include "platform/accessibility/AXUIElement.h"
#include "platform/carbon/Processes.h"
#include "platform/skylight/SkyLight.h"
#include "quorvane/Group.h"

void focusWindowInSpace(const Coordinates& space, const std::string& size, CGFloat minimumHeight,
                        CGFloat looseTolerance);
void cycleWindowsInSpace(const Coordinates& space, const std::string& size, CGFloat minimumHeight,
                         CGFloat looseTolerance);
void focusWindow(const AXUIElementRef& window);

// The record that tells a process to make one of its windows key: kind 1 announces, kind 2 does it.
SLPSEventRecord makeKeyWindowEventRecord(uint8_t kind, CGWindowID window);
void postMakeKeyWindowEvents(ProcessSerialNumber psn, CGWindowID window);

void resizeFocusedWindowIntoSpace(const Coordinates& space, CGFloat minimumHeight);
// Size first only for a window larger than the space in both directions, so that neither step
// pushes the window against a screen edge; otherwise the size is set again if it did not hold.
void setWindowFrame(const AXUIElementRef& window, const Coordinates& space, bool sizeFirst);
