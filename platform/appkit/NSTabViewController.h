#pragma once
// A container controller that shows one of its child controllers at a time: the selected tab's
// view fills its own view, and a newly selected tab's controller appears as its view goes in.
#include <cstdint>
#include <memory>

#include "platform/appkit/NSViewController.h"

class NSTabViewController : public NSViewController {
  public:
    // The first child added becomes the selected tab.
    void addTabViewItem(const std::shared_ptr<NSViewController>& controller);
    int64_t selectedTabViewItemIndex() const { return selected_; }
    // An index outside the tabs changes nothing.
    void setSelectedTabViewItemIndex(int64_t index);

  protected:
    void loadView() override;

  private:
    void showSelectedTab();

    int64_t selected_ = -1;
};
