#pragma once
// For a program that drives the process step by step (the agent's scenario player): waits, at most
// `seconds` of real time, until the facade's queues and the engine's worker queue have nothing left
// to run and no measurement request is in flight, so that what the library was handed is stored and
// what it sent has been answered. Operations that a suspended operation
// queue holds do not count: nothing runs them until the library starts. On the main thread the main
// queue runs meanwhile, since the engine's work may wait for it. True when idle.
bool ZDMWaitUntilMeasurementIdle(double seconds);
