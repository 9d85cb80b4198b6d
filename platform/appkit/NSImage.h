#pragma once
// An image known by name: the application's image assets are files "<name>.svg" or "<name>.png"
// in the resource directory ($QUORVANE_RESOURCES, else Resources/ beside the executable).
#include <filesystem>
#include <memory>
#include <string>

#include "platform/foundation/Geometry.h"

class NSImage {
  public:
    // Null when no asset has that name.
    static std::shared_ptr<NSImage> imageNamed(const std::string& name);
    // The same, for the assets of another resource directory (a library's bundle).
    static std::shared_ptr<NSImage> imageNamed(const std::string& name,
                                               const std::filesystem::path& directory);
    static std::filesystem::path resourceDirectory();

    NSImage(std::string name, CGSize size) : name_(std::move(name)), size_(size) {}

    // Records the whole image drawn into `rect` of the current context.
    void drawInRect(const CGRect& rect) const;

    const std::string& name() const { return name_; }
    CGSize size() const { return size_; }
    void setSize(CGSize size) { size_ = size; }

  private:
    std::string name_;
    CGSize size_;
};

// A left cap, a stretched centre and a right cap drawn across `frame` of the current context.
void NSDrawThreePartImage(const CGRect& frame, const NSImage& left, const NSImage& center,
                          const NSImage& right);
