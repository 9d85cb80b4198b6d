#include "quorvane/PaneIdentifiers.h"

const Settings::PaneIdentifier& spacesPaneIdentifier() {
    static const Settings::PaneIdentifier identifier("spaces");
    return identifier;
}

const Settings::PaneIdentifier& generalPaneIdentifier() {
    static const Settings::PaneIdentifier identifier("general");
    return identifier;
}
