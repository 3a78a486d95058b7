#include "app/ShellTexts.h"

#include "Printers.h"

#include <gtest/gtest.h>

using namespace kivo::app;

TEST(ShellTexts, SyncProgressAndCancellation)
{
    using kivo::index::IndexProgress;
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(syncProgressText(IndexProgress { 1.0, 10, 10, 3, false }, english), "Sync completed");
    EXPECT_EQ(syncProgressText(IndexProgress { 0, 0, 0, 0, true }, english), "Preparing…");
    EXPECT_EQ(syncProgressText(IndexProgress { 0, 0, 0, 42, true }, english), "Scanning 42 folders…");
    // Still scanning at a full fraction is not the end.
    EXPECT_EQ(syncProgressText(IndexProgress { 1.0, 0, 0, 5, true }, english), "Scanning 5 folders…");
    EXPECT_EQ(syncProgressText(IndexProgress { 0.1, 0, 0, 0, false }, english), "Preparing…");
    EXPECT_EQ(syncProgressText(IndexProgress { 0.5, 1234, 56789, 9, false }, english),
        "Indexing 1,234 of 56,789 samples");

    AlertText plain = syncCancelledAlert({});
    EXPECT_EQ(plain.title, "Sync cancelled");
    EXPECT_EQ(plain.text, "The sync was cancelled. Your library may not be up to date.");
    AlertText one = syncCancelledAlert({ "Loops" });
    EXPECT_EQ(one.title, "Import cancelled");
    EXPECT_EQ(
        one.text, "The indexing of “Loops” was cancelled and the folder has been removed from the browser.");
    EXPECT_EQ(syncCancelledAlert({ "A", "B" }).text,
        "The indexing of 2 folders was cancelled and they have been removed from the browser.");
}
