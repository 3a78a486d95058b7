// A stand-in for another program that files are dragged into: one window that accepts any drag
// and writes down what it was offered while hovering and what it received at the drop.
//
//   kivo-drop-target RECORD_FILE
//
// Prints "ready X Y W H" (the drop area in screen coordinates) once its window is on screen.
// After each drop the record file holds, one item a line:
//   hover-actions copy link        actions offered while the drag hovered
//   drop-actions copy link         actions offered at the drop
//   proposed copy                  the action the source proposed
//   format text/uri-list 123       each format with the number of bytes it delivered
//   url file:///...                each URL in the order received

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QSaveFile>
#include <QTextStream>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

QString actionNames(Qt::DropActions actions)
{
    QStringList names;
    if (actions & Qt::CopyAction)
        names << "copy";
    if (actions & Qt::MoveAction)
        names << "move";
    if (actions & Qt::LinkAction)
        names << "link";
    return names.isEmpty() ? QStringLiteral("none") : names.join(' ');
}

class DropArea : public QWidget {
public:
    explicit DropArea(QString recordPath)
        : m_recordPath(std::move(recordPath))
    {
        setAcceptDrops(true);
        setWindowTitle(QStringLiteral("Drop target"));
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override
    {
        m_hoverActions = event->possibleActions();
        event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override
    {
        m_hoverActions |= event->possibleActions();
        event->acceptProposedAction();
    }
    void dropEvent(QDropEvent* event) override
    {
        QString record;
        QTextStream out(&record);
        out << "hover-actions " << actionNames(m_hoverActions) << '\n';
        out << "drop-actions " << actionNames(event->possibleActions()) << '\n';
        out << "proposed " << actionNames(event->proposedAction()) << '\n';
        const QMimeData* mime = event->mimeData();
        for (const QString& format : mime->formats())
            out << "format " << format << ' ' << mime->data(format).size() << '\n';
        for (const QUrl& url : mime->urls())
            out << "url " << url.toString(QUrl::FullyEncoded) << '\n';
        event->acceptProposedAction();
        QSaveFile file(m_recordPath);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(record.toUtf8());
            file.commit();
        }
    }

private:
    QString m_recordPath;
    Qt::DropActions m_hoverActions;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: kivo-drop-target RECORD_FILE\n");
        return 2;
    }
    DropArea area(QString::fromLocal8Bit(argv[1]));
    area.resize(320, 320);
    area.show();
    // The window manager may place the window anew once it maps it: report where it settled.
    QTimer::singleShot(500, &area, [&area] {
        const QPoint topLeft = area.mapToGlobal(QPoint(0, 0));
        std::printf("ready %d %d %d %d\n", topLeft.x(), topLeft.y(), area.width(), area.height());
        std::fflush(stdout);
    });
    return app.exec();
}
