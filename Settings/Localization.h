#pragma once
// The localized word that titles a single-pane settings window after the application's name.
#include <string>

struct Localization {
    enum class Identifier { preferences = 0, settings = 1 };

    // The word in the user's first preferred language that has a language code; English when the
    // language is not known.
    static std::string word(Identifier identifier);
};
