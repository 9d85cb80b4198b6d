#pragma once
// A Mach-O image in the test's memory whose __TEXT holds 64 bytes of code followed by an
// __eh_frame section, listed alone in an image list of its own. Kept apart from the thread-state
// headers, whose processor constants the Mach-O headers declare too.
#include <cstdint>
#include <memory>
#include <vector>

struct dzcrash_image_list;

class DwarfFixtureImage {
  public:
    // __eh_frame follows the code directly: it starts kCodeSize bytes after the code.
    static constexpr uint64_t kCodeSize = 64;

    explicit DwarfFixtureImage(const std::vector<uint8_t>& ehFrame);
    ~DwarfFixtureImage();

    dzcrash_image_list* list() const;
    uint64_t codeAddress() const;
    uint64_t ehFrameAddress() const;

  private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};
