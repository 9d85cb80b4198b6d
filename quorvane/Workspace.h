#pragma once
// The spaces of one arrangement of screens, matched to the live screens by their frames.
#include <memory>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/foundation/KeyedArchiver.h"
#include "quorvane/Group.h"

class Workspace : public Codable {
  public:
    static constexpr const char* kClassName = "quorvane.Workspace";
    static ArchiveClass archiveClass();
    static bool classSupportsSecureCoding();
    static void setSupportsSecureCoding(bool supports);

    Workspace() = delete;
    explicit Workspace(std::vector<CGRect> screens);

    const std::vector<CGRect>& screens() const { return screens_; }
    const std::vector<std::shared_ptr<Group>>& groups() const { return groups_; }
    void setGroups(std::vector<std::shared_ptr<Group>> groups) { groups_ = std::move(groups); }

    // Same number of frames, each equal to the frame at the same place; two empty lists match.
    bool matches(const std::vector<CGRect>& screenFrames) const;

    std::string archiveClassName() const override { return kClassName; }
    bool supportsSecureCoding() const override { return classSupportsSecureCoding(); }
    void encodeWithCoder(KeyedArchiver& coder) const override;
    // Rejects a workspace without a list of screen frames; groups that cannot be read become none.
    bool initWithCoder(KeyedUnarchiver& coder) override;

  private:
    struct Decoding {};
    explicit Workspace(Decoding) {}

    std::vector<CGRect> screens_;
    std::vector<std::shared_ptr<Group>> groups_;
};
