#pragma once
// The process-wide source of the device record: built from the system, cached until something that
// feeds it changes, and kept in a short history (at most five records, persisted under
// "PastDevices") so that a log about an earlier run can carry the record of that run.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DudIzizoz/Internals/Context/DIZDeviceHistoryInfo.h"
#include "DudIzizoz/Internals/Model/DIZDevice.h"

class Bundle;

inline constexpr size_t kDIZMaxDevicesHistoryCount = 5;

class DIZDeviceTracker {
  public:
    // Made on first use: loads the history and adds this run's record to it.
    static std::shared_ptr<DIZDeviceTracker> sharedInstance();
    // Also forgets the wrapper SDK and the country code.
    static void resetSharedInstance();
    // The next `device` builds a new record.
    static void refreshDeviceNextTime();

    // The current record; a rebuilt one joins the history.
    std::shared_ptr<DIZDevice> device();
    // A record fresh from the system, touching neither the cache nor the history.
    std::shared_ptr<DIZDevice> updatedDevice();
    // The record current at `timestamp`: the newest entry strictly earlier than it, the oldest one
    // when none is, the current record without a time or a history.
    std::shared_ptr<DIZDevice> deviceForTimestamp(const std::optional<Date>& timestamp);
    // Keeps only the newest entry.
    void clearDevices();
    std::vector<std::shared_ptr<DIZDeviceHistoryInfo>> deviceHistory() const;

    // Replaces the newest history entry by one that carries the wrapper's fields.
    void setWrapperSdk(std::shared_ptr<DIZWrapperSdk> wrapperSdk);
    std::shared_ptr<DIZWrapperSdk> wrapperSdk() const;
    // Takes effect, as a new history entry, at the next `device`.
    void setCountryCode(std::optional<std::string> countryCode);
    std::optional<std::string> countryCode() const;
    // Copies the stored wrapper SDK's fields into `device`.
    static void refreshWrapperSdk(DIZDevice& device);

    // The facts of this machine.
    static std::string deviceModel();
    static std::string osName();
    static std::string osVersion();
    static std::string osBuild();
    // The first preferred language with its script and region ("zh-Hans_CN"); the region of
    // `currentLocale` ("en_CA.UTF-8") when the language names none.
    static std::string locale(const std::string& currentLocale);
    // Minutes east of UTC of the local time zone now.
    static int64_t timeZoneOffset();
    // "WIDTHxHEIGHT" of the main screen in points; "0x0" without one.
    static std::string screenSize();
    static std::optional<std::string> appVersion(const Bundle& bundle);
    static std::optional<std::string> appBuild(const Bundle& bundle);
    static std::optional<std::string> appNamespace(const Bundle& bundle);

    DIZDeviceTracker();  // use sharedInstance()

  private:
    void save() const;

    std::shared_ptr<DIZDevice> device_;
    std::vector<std::shared_ptr<DIZDeviceHistoryInfo>> deviceHistory_;
};
