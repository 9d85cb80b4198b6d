#pragma once
// The system cursors by name; `set` makes one the current cursor.
#include <string>

class NSCursor {
  public:
    static NSCursor arrowCursor() { return NSCursor("arrow"); }
    static NSCursor pointingHandCursor() { return NSCursor("pointingHand"); }
    static NSCursor openHandCursor() { return NSCursor("openHand"); }

    static NSCursor currentCursor();
    void set() const;

    const std::string& name() const { return name_; }
    bool operator==(const NSCursor&) const = default;

  private:
    explicit NSCursor(std::string name) : name_(std::move(name)) {}
    std::string name_;
};
