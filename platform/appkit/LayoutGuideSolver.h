#pragma once
// Places the layout guides of a view from the active constraints among the view and its guides.
// It knows what a control's guides need, not a general constraint engine: per axis, required
// equalities are propagated first, then the required inequalities bound what is left, then the
// optional equalities apply one at a time from the highest priority, each kept inside those bounds.
class NSView;

void solveLayoutGuideFrames(NSView& owner);
