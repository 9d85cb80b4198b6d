#pragma once
// The identifiers of the agent's two preference panes, one of each for the whole application.
#include "Settings/Settings.h"

const Settings::PaneIdentifier& spacesPaneIdentifier();
const Settings::PaneIdentifier& generalPaneIdentifier();
