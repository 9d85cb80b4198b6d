#pragma once
// What can be switched on and off: channels, services and ingestions. Disabling with
// `deleteDataOnDisabled` also drops what the object holds; each adopter says what that is.
class DIZEnable {
  public:
    virtual ~DIZEnable() = default;
    virtual void setEnabled(bool isEnabled, bool deleteDataOnDisabled) = 0;
};
