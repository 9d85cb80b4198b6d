#pragma once
// How and where the application is installed, read from the main bundle.
#include <optional>
#include <string>

class ZDMAEU {
  public:
    // The store receipt's location; none when Info.plist turns the check off with
    // "ZudedaroAppStoreReceiptURLCheckEnabled" = NO.
    static std::optional<std::string> appStoreRURL();
    // Runs with a sandbox (test) store receipt.
    static bool isASRS();
    static bool isNOD();
    // Installed from the App Store. Linux executables carry no encryption information, so only a
    // "SC_Info" file in the bundle's directory marks such an installation.
    static bool isFAS();
    // The process is an app extension.
    static bool isAEX();
    static std::string deviceModel();
    static std::string systemVersion();
};
