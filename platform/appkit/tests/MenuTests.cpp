#include <gtest/gtest.h>

#include "platform/appkit/NSApplication.h"
#include "platform/appkit/NSMenu.h"
#include "platform/foundation/SharedInstance.h"

namespace {

TEST(Menus, ItemsKnowTheirParentItemThroughTheirMenu) {
    auto top = std::make_shared<NSMenu>("Main");
    auto file = top->addItemWithTitle("File", "", "");
    auto fileMenu = std::make_shared<NSMenu>("File");
    auto early = fileMenu->addItemWithTitle("New", "new:", "n");
    file->setSubmenu(fileMenu);
    auto late = std::make_shared<NSMenuItem>("Save", "save:", "s");
    fileMenu->addItem(late);

    EXPECT_EQ(file->parentItem(), nullptr);
    EXPECT_EQ(early->parentItem(), file);
    EXPECT_EQ(late->parentItem(), file);
    EXPECT_EQ(late->menu(), fileMenu);
    EXPECT_EQ(late->keyEquivalentModifierMask(), NSEventModifierFlagCommand);

    file->setSubmenu(nullptr);
    EXPECT_EQ(late->parentItem(), nullptr);
}

TEST(Menus, TheApplicationHoldsTheMainMenuAndRecordsPresentedErrors) {
    resetAllForTesting();
    auto app = NSApplication::sharedApplication();
    EXPECT_EQ(app->mainMenu(), nullptr);
    EXPECT_EQ(app->userInterfaceLayoutDirection(), NSUserInterfaceLayoutDirection::LeftToRight);
    auto menu = std::make_shared<NSMenu>("Main");
    app->setMainMenu(menu);
    EXPECT_EQ(app->mainMenu(), menu);

    EXPECT_FALSE(app->presentError(Error("Test", 1)));
    app->presentErrorModalForWindow(Error("Test", 2), nullptr);
    ASSERT_EQ(app->presentedErrors().size(), 2u);
    EXPECT_FALSE(app->presentedErrors()[0].asSheet);
    EXPECT_TRUE(app->presentedErrors()[1].asSheet);
    EXPECT_EQ(app->presentedErrors()[1].error.code, 2);
    resetAllForTesting();
}

TEST(KeyEvents, CarryBothCharacterFormsAndTheApplicationTheHeldModifiers) {
    resetAllForTesting();
    auto plain = NSEvent::keyEvent(NSEventType::KeyDown, 0, "a", 0, nullptr);
    EXPECT_EQ(plain->charactersIgnoringModifiers(), "a");
    auto option = NSEvent::keyEvent(NSEventType::KeyDown, 0, "å", NSEventModifierFlagOption, nullptr, "a");
    EXPECT_EQ(option->characters(), "å");
    EXPECT_EQ(option->charactersIgnoringModifiers(), "a");

    EXPECT_EQ(NSEvent::currentModifierFlags(), 0u);
    NSEvent::setCurrentModifierFlags(NSEventModifierFlagShift);
    EXPECT_EQ(NSEvent::currentModifierFlags(), NSEventModifierFlagShift);
    resetAllForTesting();
    EXPECT_EQ(NSEvent::currentModifierFlags(), 0u);
}

}  // namespace
