#include "library/SettingsTexts.h"

#include <gtest/gtest.h>

using namespace kivo::library;

// (The window's tests show the title and a plural count on screen.)
TEST(SettingsTexts, DeleteConfirmationCountsRootsAndIneligibleFolderAlertsListSeveral)
{
    EXPECT_EQ(texts::deleteCollectionText(1),
        "This will remove the entire collection including 1 folder path and user made adjustments.");
    EXPECT_EQ(texts::deleteCollectionText(3),
        "This will remove the entire collection including 3 folder paths and user made adjustments.");
    EXPECT_EQ(texts::ineligibleFoldersTitle(1), "Ineligible folder");
    EXPECT_EQ(texts::ineligibleFoldersTitle(2), "Ineligible folders");
    EXPECT_EQ(texts::ineligibleFoldersText({ "one" }), "one");
    EXPECT_EQ(texts::ineligibleFoldersText({ "one", "two" }), "• one\n• two");
}
