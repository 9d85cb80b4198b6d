#pragma once
// Reading a text as a value the way the platform's text objects do when asked for one.
#include <string_view>

// YES when, after leading blanks, an optional sign and any zeros, the next character is one of
// "Y", "y", "T", "t" or a digit 1-9: "YES", "true", " +0042" read YES; "", "no", "0", "-0" read NO.
bool boolValueOfText(std::string_view text);
