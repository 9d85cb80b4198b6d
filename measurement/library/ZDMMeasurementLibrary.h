#pragma once
// Starts the measurement library as a whole: the engine's load hooks, then every layer above the
// engine installed where the engine and the connector look for it (audiences, conditional user
// properties, experiments, purchase fingerprints, event editing). An app calls it first thing, in
// place of registerMeasurementHooks(); calling it again changes nothing.
void ZDMInstallMeasurementLibrary();
