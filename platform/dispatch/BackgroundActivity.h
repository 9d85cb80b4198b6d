#pragma once
// A count of the work in progress off the main thread: blocks queued to or running on the serial
// and global queues, and whatever else declares itself (a URL transfer, from its start until its
// outcome is handed to its queue). A caller that drives the process step by step waits for it to
// reach zero, so that what one step set off has finished before the next step looks.
namespace BackgroundActivity {
void begin();
void end();
// Waits at most `seconds` of real time; true when nothing is in progress.
bool waitUntilIdle(double seconds);
// On the main thread: runs the main queue's blocks while it waits, until neither the main queue
// nor the background has work left or `seconds` of real time have passed; true when settled.
bool waitUntilSettled(double seconds);
}  // namespace BackgroundActivity
