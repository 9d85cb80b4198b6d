#pragma once
// Test controls of the Mach stand-in.
namespace MachTesting {
// While set, reads of task memory behave as on a system that refuses process_vm_readv, so the
// /proc/self/mem road is taken.
void setProcessVmReadvRefused(bool refused);
// How long a suspended thread has to answer, in milliseconds; 0 restores the 100 ms that crash
// time allows. Tests that expect an answer allow more, so that a loaded machine, which may hold a
// thread back that long, does not fail them.
void setThreadAnswerTimeout(long milliseconds);
// While set, task_threads fails with KERN_FAILURE, as when the task's thread list cannot be read.
void setTaskThreadsFailing(bool failing);
// How many names of the port table denote a port, a port set or a dead name right now.
int portNamesInUse();
}  // namespace MachTesting
