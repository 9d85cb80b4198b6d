#pragma once
// Hands the analytics connector, which lives in the engine's layer, the conditional user-property
// controller's three requests: set, clear and the query by name prefix and origin.

// Replaces whatever the connector had; idempotent.
void ZDMInstallConditionalPropertiesForConnector();
