#pragma once
// Makes audience evaluation the engine's: the engine, a layer below, holds a ZDMEngineAudience and
// makes it through a factory; this installs one that makes a ZDMAudience over the engine's database
// and forwards every call to it. Whatever starts the library calls it once before the engine starts.
void ZDMInstallAudienceForEngine();
