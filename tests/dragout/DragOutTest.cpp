// Drag-out end to end on a real X server: the browser window drags sample rows into a separate
// program (kivo-drop-target) that writes down what it was offered and what it received. The pointer
// is driven from outside with xdotool, so the drag runs through the X server's drag-and-drop
// protocol exactly as it does into a DAW or a file manager. ctest runs it through with-display.sh,
// on an Xvfb and openbox of its own. Without them it fails: a drag-out nobody checked is not a
// drag-out that works.

#include "app/CustomDragManager.h"
#include "app/LibraryTreeModel.h"
#include "app/MainWindow.h"
#include "app/SearchResultsModel.h"
#include "platform/TaskRunner.h"
#include "support/TestEnvironment.h"

#include "app/Printers.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

#include <functional>
#include <map>

using namespace kivo::app;

namespace {

bool waitFor(const std::function<bool()>& done, int ms = 15000)
{
    for (int waited = 0; waited < ms; waited += 20) {
        if (done())
            return true;
        QTest::qWait(20);
    }
    return done();
}

kivo::index::FileInfo fileInfo(const std::string& path)
{
    kivo::index::FileInfo f;
    f.path = path;
    f.name = path.substr(path.find_last_of('/') + 1);
    return f;
}

// Drag actions the windows of this process were offered by drags of file URLs.
class OfferedActions : public QObject {
public:
    Qt::DropActions actions;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::DragEnter && watched->isWidgetType())
            if (auto* drag = static_cast<QDragEnterEvent*>(event); drag->mimeData()->hasUrls())
                actions = drag->possibleActions();
        return false;
    }
};

class DragOut : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : { "Kick 1.wav", "Kick 2.wav", "Kick 3.wav", "Snare.wav" })
            m_files.push_back(QString::fromStdString(m_dir.write(std::string("Pack/") + name, "RIFF")));
        m_record = m_dir.path() + "/record.txt";

        m_target.setProgram(QStringLiteral(KIVO_DROP_TARGET));
        m_target.setArguments({ m_record });
        m_target.start();
        ASSERT_TRUE(m_target.waitForStarted(10000)) << "kivo-drop-target did not start";
        ASSERT_TRUE(waitFor([this] { return m_target.canReadLine(); })) << "kivo-drop-target never showed";
        const QStringList ready = QString::fromUtf8(m_target.readLine()).split(' ');
        ASSERT_EQ(ready.size(), 5);
        m_targetCentre
            = QPoint(ready[1].toInt() + ready[3].toInt() / 2, ready[2].toInt() + ready[4].toInt() / 2);

        WindowServices services;
        services.loadFolder = [this](const std::string& path) {
            kivo::organise::FolderContents contents;
            if (path == (m_dir.path() + "/Pack").toStdString())
                for (const QString& f : m_files)
                    contents.files.push_back(fileInfo(f.toStdString()));
            return contents;
        };
        services.makeSearch = [this](kivo::organise::SearchRequest) -> SearchJob {
            return [files = m_files](const kivo::index::CancelHandle&) {
                kivo::organise::FilterResults out;
                for (int i : { 3, 0, 2 })
                    out.files.push_back(fileInfo(files[i].toStdString()));
                return std::optional(out);
            };
        };
        m_window = std::make_unique<MainWindow>(m_tasks, std::move(services));
        m_window->setCollections({ { "A", "Drums", "EF5356", { m_dir.path() + "/Pack" } } }, 0);
        m_window->resize(760, 620);
        m_window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        m_window->treeView()->expandAll();
        // The folder's rows are read in the background.
        ASSERT_TRUE(waitFor([this] {
            const LibraryTreeModel* tree = m_window->treeModel();
            return tree->pendingReads() == 0 && tree->rowCount(tree->index(0, 0)) == int(m_files.size());
        }));
        QTest::qWait(300); // the window manager settles the frame
    }

    void TearDown() override
    {
        m_window.reset();
        if (m_target.state() != QProcess::NotRunning) {
            m_target.kill();
            m_target.waitForFinished(5000);
        }
    }

    // Presses on `from`, drags to `to` in small steps and releases there, all from outside.
    void drag(QPoint from, QPoint to)
    {
        auto pos = [](QPoint p) { return QStringList { QString::number(p.x()), QString::number(p.y()) }; };
        QStringList args = QStringList { "mousemove", "--sync" } + pos(from);
        args += QStringList { "sleep", "0.2", "mousedown", "1", "sleep", "0.2" };
        for (QPoint step :
            { from + QPoint(6, 6), from + QPoint(20, 20), from + QPoint(40, 40), to, to + QPoint(8, 8) })
            args += QStringList { "mousemove" } + pos(step) + QStringList { "sleep", "0.3" };
        args += QStringList { "mouseup", "1" };
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"), args);
        ASSERT_TRUE(xdotool.waitForStarted(5000)) << "xdotool is missing (scripts/setup installs it)";
        // The drag runs inside this process's event loop: keep it turning while xdotool works.
        ASSERT_TRUE(waitFor([&] { return xdotool.state() == QProcess::NotRunning; }, 20000));
        EXPECT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
        EXPECT_TRUE(waitFor([] { return !CustomDragManager::shared().isDragging(); }));
        EXPECT_TRUE(CustomDragManager::shared().draggedURLs().isEmpty());
    }

    // Selects these rows (in this order, as clicks would) and drags the last one to `to`.
    void dragRows(QTreeView* view, const QModelIndexList& rows, QPoint to)
    {
        view->selectionModel()->clearSelection();
        for (const QModelIndex& row : rows)
            view->selectionModel()->select(row, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        drag(view->viewport()->mapToGlobal(view->visualRect(rows.back()).center()), to);
    }

    // What the drop target wrote, by the first word of each line.
    std::multimap<QString, QString> received()
    {
        waitFor([this] { return QFile::exists(m_record); });
        QFile file(m_record);
        std::multimap<QString, QString> lines;
        if (file.open(QIODevice::ReadOnly))
            for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
                lines.emplace(line.section(' ', 0, 0), line.section(' ', 1));
        QFile::remove(m_record);
        return lines;
    }

    static QStringList values(const std::multimap<QString, QString>& lines, const QString& key)
    {
        QStringList out;
        auto [begin, end] = lines.equal_range(key);
        for (auto it = begin; it != end; ++it)
            out << it->second;
        return out;
    }

    void expectDelivered(const QList<int>& order)
    {
        const auto lines = received();
        QStringList urls;
        for (int i : order)
            urls << QUrl::fromLocalFile(m_files[i]).toString(QUrl::FullyEncoded);
        EXPECT_EQ(values(lines, "url"), urls);
        EXPECT_EQ(values(lines, "hover-actions"), QStringList { "copy link" });
        EXPECT_EQ(values(lines, "drop-actions"), QStringList { "copy link" });
        EXPECT_EQ(values(lines, "proposed"), QStringList { "copy" });
        // The file list really arrived: not just its format names.
        bool uriListFilled = false;
        for (const QString& format : values(lines, "format"))
            if (format.startsWith("text/uri-list "))
                uriListFilled = format.section(' ', 1).toInt() > 0;
        EXPECT_TRUE(uriListFilled);
    }

    kivo::test::ScratchDir m_dir;
    QStringList m_files;
    QString m_record;
    QProcess m_target;
    QPoint m_targetCentre;
    kivo::platform::TaskRunner m_tasks;
    std::unique_ptr<MainWindow> m_window;
};

TEST_F(DragOut, TreeRowsArriveInAnotherProgramAsFileURLsInTheBrowsersOrderAndOfferMoveOnlyToItsOwnWindow)
{
    QTreeView* tree = m_window->treeView();
    const QModelIndex pack = tree->model()->index(0, 0);
    ASSERT_EQ(tree->model()->rowCount(pack), 4);
    // Selected bottom-up; the drop still lists them top to bottom.
    dragRows(tree,
        { tree->model()->index(3, 0, pack), tree->model()->index(2, 0, pack),
            tree->model()->index(0, 0, pack) },
        m_targetCentre);
    expectDelivered({ 0, 2, 3 });

    // A second drag works as the first did: nothing of the first drag is left in the way.
    dragRows(tree, { tree->model()->index(1, 0, pack) }, m_targetCentre);
    expectDelivered({ 1 });

    // Dropped back on the browser's own collection bar, well away from the rows, the same rows
    // offer copy and move, and the other program receives nothing.
    OfferedActions offered;
    qApp->installEventFilter(&offered);
    const QPoint bar = m_window->mapToGlobal(QPoint(m_window->width() / 2, 40));
    dragRows(tree, { tree->model()->index(0, 0, pack), tree->model()->index(1, 0, pack) }, bar);
    qApp->removeEventFilter(&offered);
    EXPECT_EQ(offered.actions, Qt::CopyAction | Qt::MoveAction);
    EXPECT_FALSE(QFile::exists(m_record));
}

TEST_F(DragOut, ResultRowsArriveInAnotherProgramInTheListsOrder)
{
    m_window->searchField()->setText(QStringLiteral("kit"));
    ASSERT_TRUE(waitFor([this] { return m_window->resultsModel()->size() == 3; }));
    QTreeView* results = m_window->resultsView();
    QTest::qWait(100);
    QList<int> shown;
    for (int row = 0; row < 3; ++row)
        shown << int(m_files.indexOf(results->model()->index(row, 0).data(kPathRole).toString()));
    dragRows(results,
        { results->model()->index(2, 0), results->model()->index(0, 0), results->model()->index(1, 0) },
        m_targetCentre);
    expectDelivered(shown);
}

// Titles as the window manager gets them: a dialog's own short title, nothing appended.
TEST_F(DragOut, WindowsGiveTheWindowManagerTheirOwnShortTitles)
{
    m_window->showAlert(QStringLiteral("Ineligible folder"), QStringLiteral("“x” can’t be synced."));
    QStringList names;
    waitFor([&] {
        QProcess xdotool;
        xdotool.start(QStringLiteral("xdotool"),
            { "search", "--name", "KIVO Browser|Ineligible folder", "getwindowname", "%@" });
        xdotool.waitForFinished(5000);
        names = QString::fromUtf8(xdotool.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        return names.size() >= 2;
    });
    names.removeDuplicates();
    names.sort();
    EXPECT_EQ(names, (QStringList { "Ineligible folder", "KIVO Browser" }));
}

} // namespace

int main(int argc, char** argv)
{
    kivo::test::isolateUserFolders();
    QApplication app(argc, argv);
    setApplicationIdentity();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
