#include "TreeSettled.h"
#include "app/MainWindow.h"
#include "app/MetadataEditor.h"
#include "app/TagEditor.h"
#include "index/MetadataOverrideStore.h"
#include "organise/TagStore.h"
#include "platform/PreferenceStore.h"
#include "platform/TaskRunner.h"
#include "support/PaperLibrary.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "MessageBoxes.h"

#include <gtest/gtest.h>

using namespace kivo;
using namespace kivo::app;
using organise::TagButtonState;

namespace {

struct Stores {
    test::ScratchDir dir;
    platform::PreferenceStore prefs { dir.path() + "/prefs.plist" };
    index::MetadataOverrideStore overrides { prefs };
    organise::TagStore tags { prefs };
};

} // namespace

TEST(OrganisePopUps, TempoAndKeySaveOnReturnAutomaticAndNoneTooAndTagDecisionsApplyOnSaveOnly)
{
    Stores s;
    MetadataEditorItems items { { "/L", "/L/a.wav" }, "L", true, {}, {} };
    auto* typed
        = new MetadataEditor(s.overrides, items, music::KeySpelling::automatic, MetadataEditor::Field::bpm);
    typed->setAttribute(Qt::WA_DeleteOnClose);
    typed->show();
    QTest::keyClicks(typed->bpmField(), "1x05");
    QTest::keyClicks(typed->keyField(), "f# minor");
    // The root grid follows what is typed.
    EXPECT_TRUE(typed->findChild<QPushButton*>("root6")->isChecked());
    QTest::keyClick(typed->keyField(), Qt::Key_Return);
    EXPECT_EQ(s.overrides.bpmOverrides().at("/L/a.wav"), 105);
    EXPECT_EQ(s.overrides.keyOverrides().at("/L"), "F#m");

    // Choosing a root and quality by clicks, in the user's spelling.
    MetadataEditor flat(s.overrides, { { "/L" }, "L", true, 105, "F#m" }, music::KeySpelling::flat,
        MetadataEditor::Field::key);
    flat.show();
    EXPECT_EQ(flat.bpmField()->text(), "105");
    EXPECT_EQ(flat.keyField()->text(), "G\u266D Minor");
    flat.findChild<QPushButton*>("root10")->click();
    test::clickButton(&flat, "Major");
    EXPECT_EQ(flat.keyField()->text(), "B\u266D Major");
    test::clickButton(&flat, "Automatic"); // the BPM row's comes first
    flat.save();
    EXPECT_EQ(s.overrides.keyOverrides().at("/L"), "Bb");
    EXPECT_FALSE(s.overrides.bpmOverrides().contains("/L"));

    // None marks the value as absent; Escape and a key that is no key change nothing.
    MetadataEditor none(s.overrides, { { "/L/a.wav" }, "a.wav", false, 105, {} },
        music::KeySpelling::automatic, MetadataEditor::Field::bpm);
    none.show();
    test::clickButton(&none, "None");
    QTest::keyClicks(none.keyField(), "H minor");
    none.save();
    EXPECT_TRUE(none.isVisible());
    EXPECT_TRUE(s.overrides.bpmOverrides().contains("/L/a.wav"));
    none.keyField()->clear();
    QTest::keyClicks(none.keyField(), "8A");
    QTest::keyClick(none.bpmField(), Qt::Key_Return);
    EXPECT_TRUE(s.overrides.clearedBPMPaths().contains("/L/a.wav"));
    EXPECT_EQ(s.overrides.keyOverrides().at("/L/a.wav"), "Am");

    MetadataEditor cancelled(s.overrides, { { "/L" }, "L", true, {}, {} }, music::KeySpelling::automatic,
        MetadataEditor::Field::bpm);
    cancelled.show();
    QTest::keyClicks(cancelled.bpmField(), "99");
    QTest::keyClick(cancelled.bpmField(), Qt::Key_Escape);
    EXPECT_FALSE(cancelled.isVisible());
    EXPECT_FALSE(s.overrides.bpmOverrides().contains("/L"));

    // The tag pop-up: decisions apply on Save only; tags are created, renamed, moved and deleted.
    const auto drums = *s.tags.createTag("Drums");
    const auto dark = *s.tags.createTag("Dark");
    s.tags.setTag(drums, organise::TagChoice::on, { "/A" });
    s.tags.setTag(dark, organise::TagChoice::on, { "/A/x.wav" });

    {
        TagEditor editor(s.tags, { "/A/x.wav", "/A/y.wav" }, "x.wav");
        editor.show();
        EXPECT_EQ(editor.button(drums)->state(), TagButtonState::inherited);
        EXPECT_EQ(editor.button(dark)->state(), TagButtonState::mixed);
        editor.button(drums)->click();
        editor.button(dark)->click();
        EXPECT_EQ(editor.button(drums)->state(), TagButtonState::off);
        // Typing a name creates the tag and turns it on; an existing name picks that tag.
        QTest::keyClicks(editor.newTagField(), "Pads");
        QTest::keyClick(editor.newTagField(), Qt::Key_Return);
        QTest::keyClicks(editor.newTagField(), "drums");
        QTest::keyClick(editor.newTagField(), Qt::Key_Return);
        ASSERT_EQ(s.tags.tags().size(), 3u);
        const auto pads = s.tags.tags().back().id;
        EXPECT_EQ(editor.shownState(pads), TagButtonState::on);
        EXPECT_EQ(editor.shownState(drums), TagButtonState::inherited);
        // Nothing is applied before Save.
        EXPECT_TRUE(s.tags.exclusions().empty());
        QTest::keyClick(editor.newTagField(), Qt::Key_Return);
        EXPECT_FALSE(editor.isVisible());
        EXPECT_EQ(s.tags.names(s.tags.effectiveTags("/A/y.wav")),
            (std::vector<std::string> { "Drums", "Dark", "Pads" }));
        EXPECT_EQ(s.tags.assignments().at("/A/x.wav").size(), 2u);
    }
    {
        TagEditor editor(s.tags, { "/A/x.wav" }, "x.wav");
        editor.show();
        editor.button(drums)->click();
        test::clickButton(&editor, "Cancel");
        EXPECT_EQ(s.tags.buttonState(drums, { "/A/x.wav" }), TagButtonState::inherited);

        TagEditor clearing(s.tags, { "/A/x.wav" }, "x.wav");
        clearing.show();
        test::clickButton(&clearing, "Clear");
        EXPECT_TRUE(s.tags.effectiveTags("/A/x.wav").empty());
    }

    TagEditor editor(s.tags, { "/B" }, "B");
    editor.show();
    editor.askRename(dark);
    auto* rename = editor.findChild<QInputDialog*>("renameTag");
    ASSERT_TRUE(rename);
    rename->setTextValue("  drums  ");
    rename->accept();
    ASSERT_TRUE(editor.button(dark));
    EXPECT_EQ(editor.button(dark)->text(), "drums 2");

    // Dropped on the first button: it goes first.
    QApplication::processEvents();
    editor.dropTag(
        editor.buttons().back()->tagId(), editor.buttons().front()->geometry().center() - QPoint(5, 0));
    EXPECT_EQ(s.tags.tags().front().name, "Pads");

    editor.askDelete(drums);
    QMessageBox* box = test::findSheet(&editor, "deleteTagConfirmation");
    ASSERT_TRUE(box);
    test::clickButton(box, "Delete");
    EXPECT_EQ(s.tags.tag(drums), nullptr);
    EXPECT_EQ(editor.buttons().size(), 2u);
}

TEST(MainWindowMetadata, RowsShowEffectiveValuesAndTagsAndReSortWhenTheyChange)
{
    test::PaperLibrary paper;
    paper.folder("/lib/Loops", { "Sub" }, { "a.wav", "b 120bpm.wav" });
    paper.folders["/lib/Loops"].files[1].bpm = 120;
    paper.folder("/lib/Loops/Sub", {}, { "c.wav" });
    WindowServices services;
    services.loadFolder = paper.loader();
    Stores s;
    platform::TaskRunner tasks;
    MainWindow w(tasks, services);
    w.setOrganiseStores(&s.overrides, &s.tags);
    w.setCollections({ { "A", "Loops", "EF5356", { "/lib/Loops" } } }, 0);
    ASSERT_TRUE(treeSettled(w.treeModel()));
    auto* model = w.treeModel();
    ASSERT_TRUE(openedAndSettled(w.treeView(), w.treeModel(), model->index(0, 0)));
    auto rowNames = [&] {
        QStringList names;
        const QModelIndex loops = model->index(0, 0);
        for (int r = 0; r < model->rowCount(loops); ++r)
            names << model->index(r, 0, loops).data().toString() + "="
                    + model->index(r, kBpmColumn, loops).data().toString();
        return names.join(", ");
    };
    ASSERT_EQ(rowNames(), "Sub=, b 120bpm.wav=120, a.wav=");

    // A value heard from the audio fills a row that has none of its own, dimmed, its tooltip naming
    // the source; the file's own value (here from its name) stays.
    auto heard = std::make_shared<organise::AnalysedValues>();
    auto heardFolder = std::make_shared<organise::AnalysedValues::Folder>();
    (*heardFolder)["a.wav"] = { 85, "Dm" };
    (*heardFolder)["b 120bpm.wav"] = { 60, std::nullopt };
    heard->folders["/lib/Loops"] = heardFolder;
    EXPECT_TRUE(model->setAnalysed(heard)) << "a.wav now sorts by its heard tempo";
    EXPECT_EQ(rowNames(), "Sub=, b 120bpm.wav=120, a.wav=85");
    const QModelIndex heardBpm = model->index(2, kBpmColumn, model->index(0, 0));
    EXPECT_TRUE(heardBpm.data(Qt::ForegroundRole).isValid());
    EXPECT_NE(heardBpm.data(Qt::ToolTipRole),
        model->index(1, kBpmColumn, model->index(0, 0)).data(Qt::ToolTipRole));
    model->setAnalysed(std::make_shared<organise::AnalysedValues>());
    EXPECT_EQ(rowNames(), "Sub=, b 120bpm.wav=120, a.wav=");
    BrowserRow row;
    row.key = "Am";
    for (const auto& [path, source] :
        { std::pair { "/lib/Am Keys/pad.wav", "folder" }, { "/lib/Keys/pad.wav", "header" },
            { "/lib/Keys/pad.m4a", "tag" }, { "/lib/Keys/pad Am.m4a", "name" } }) {
        row.path = path;
        EXPECT_EQ(valueSource(row, kKeyColumn), source) << path;
    }

    // A folder's BPM reaches the files below it without one, which now sort among the tempos.
    s.overrides.setBPM(90, { "/lib/Loops" });
    EXPECT_EQ(rowNames(), "Sub=90, a.wav=90, b 120bpm.wav=120");
    const QModelIndex a = model->index(1, kBpmColumn, model->index(0, 0));
    EXPECT_TRUE(a.data(Qt::FontRole).value<QFont>().italic());
    EXPECT_FALSE(model->index(2, kBpmColumn, model->index(0, 0)).data(Qt::FontRole).isValid());
    ASSERT_TRUE(openedAndSettled(w.treeView(), w.treeModel(), model->index(0, 0, model->index(0, 0))));
    EXPECT_EQ(model->index(0, kBpmColumn, model->index(0, 0, model->index(0, 0))).data().toString(), "90");

    // Tags given to the folder show on every row below it, except where taken away.
    const auto drums = *s.tags.createTag("Drums");
    s.tags.setTag(drums, organise::TagChoice::on, { "/lib/Loops" });
    s.tags.setTag(drums, organise::TagChoice::off, { "/lib/Loops/a.wav" });
    const QModelIndex loops = model->index(0, 0);
    EXPECT_EQ(model->index(2, 0, loops).data(kTagsRole).toStringList(), QStringList { "Drums" });
    EXPECT_TRUE(model->index(1, 0, loops).data(kTagsRole).toStringList().isEmpty());

    // E on a selected row opens the tempo and key editor for it; Alt+T the tag pop-up.
    w.treeView()->setCurrentIndex(model->index(1, 0, loops));
    QKeyEvent e(QEvent::KeyPress, Qt::Key_E, Qt::NoModifier, "e");
    EXPECT_TRUE(w.handleBrowserKey(e));
    auto* editor = w.findChild<MetadataEditor*>("metadataEditor");
    ASSERT_TRUE(editor);
    EXPECT_EQ(editor->bpmField()->text(), "90");
    editor->bpmField()->selectAll();
    QTest::keyClicks(editor->bpmField(), "70");
    editor->save();
    EXPECT_EQ(rowNames(), "Sub=90, a.wav=70, b 120bpm.wav=120");

    // The tree is made again on every change, around the user's selection: one row or several stay
    // selected, and the previewed file is not loaded again.
    QSignalSpy loaded(&w, &MainWindow::fileSelected);
    s.tags.setTag(drums, organise::TagChoice::on, { "/lib/Loops/a.wav" });
    EXPECT_EQ(w.selectedFile(), "/lib/Loops/a.wav");
    EXPECT_EQ(loaded.count(), 0);
    const QModelIndex folder = model->index(0, 0);
    w.treeView()->selectionModel()->select(
        QItemSelection(model->index(1, 0, folder), model->index(2, kColumnCount - 1, folder)),
        QItemSelectionModel::ClearAndSelect);
    loaded.clear();
    s.overrides.setBPM(130, { "/lib/Loops/a.wav" });
    EXPECT_EQ(rowNames(), "Sub=90, b 120bpm.wav=120, a.wav=130");
    EXPECT_EQ(w.treeView()->selectionModel()->selectedRows().size(), 2);
    EXPECT_EQ(loaded.count(), 0);
    // E on that selection: their tempos differ, so the field offers none of them.
    EXPECT_TRUE(w.handleBrowserKey(e));
    const auto editors = w.findChildren<MetadataEditor*>("metadataEditor");
    EXPECT_TRUE(editors.back()->bpmField()->text().isEmpty());
    QKeyEvent t(QEvent::KeyPress, Qt::Key_T, Qt::AltModifier, "t");
    EXPECT_TRUE(w.handleBrowserKey(t));
    EXPECT_TRUE(w.findChild<TagEditor*>("tagEditor"));
    for (auto* popup : w.findChildren<QDialog*>())
        popup->close();

    // Tempo ×2 and ÷2 from a row's menu are kept as the user's tempo; a folder's act on every file
    // listed below it.
    w.show();
    w.treeView()->clearSelection();
    auto fromRowMenu = [&](int row, const QModelIndex& parent, const char* command) {
        const QModelIndex at = model->index(row, 0, parent);
        QTimer::singleShot(0, &w, [command] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_TRUE(menu);
            if (auto* action = menu->findChild<QAction*>(command))
                action->trigger();
            else
                ADD_FAILURE() << "no " << command;
            menu->close();
        });
        emit w.treeView()->customContextMenuRequested(w.treeView()->visualRect(at).center());
    };
    fromRowMenu(2, model->index(0, 0), "halveTempo");
    EXPECT_EQ(s.overrides.bpmOverrides().at("/lib/Loops/a.wav"), 65);
    EXPECT_EQ(rowNames(), "Sub=90, a.wav=65, b 120bpm.wav=120");
    fromRowMenu(0, model->index(0, 0), "doubleTempo");
    EXPECT_EQ(s.overrides.bpmOverrides().at("/lib/Loops/Sub/c.wav"), 180);
    EXPECT_EQ(s.overrides.bpmOverrides().at("/lib/Loops"), 90) << "the folder's own tempo stays";
    EXPECT_EQ(model->index(0, kBpmColumn, model->index(0, 0, model->index(0, 0))).data().toString(), "180");
}
