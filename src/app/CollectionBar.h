#pragma once

// The row of collections along the top of the window: one button per collection in its colour,
// the selected one pressed, and a button that adds a collection. A collection's context menu
// renames it, changes its colour or deletes it; the window asks before a delete. A small mark
// shows while the collections have changed since the last sync, and a short pulse runs over the
// bar when a sync completes.

#include <QColor>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

class QButtonGroup;
class QHBoxLayout;
class QLabel;
class QMenu;
class QVariantAnimation;
class QScrollArea;
class QToolButton;

namespace kivo::app {

struct CollectionEntry {
    QString id;
    QString name;
    QString colorHex;
    QStringList rootPaths; // resolved root folders, in the collection's order
    bool hidden = false; // hidden by the user: absent from the bar outside hide mode
    bool operator==(const CollectionEntry&) const = default;
};

// A name as the user typed it, for widgets that read "&" as a mnemonic (buttons, menus).
QString literalText(const QString& typed);

class CollectionBar : public QWidget {
    Q_OBJECT
public:
    explicit CollectionBar(QWidget* parent = nullptr);

    void setCollections(const std::vector<CollectionEntry>& collections, int selected);
    const std::vector<CollectionEntry>& collections() const { return m_collections; }
    int selected() const { return m_selected; }
    // The collection's button (tests, screenshots); null for an invalid index.
    QToolButton* button(int index) const;
    // Whether the collections are as the last sync left them; the mark shows while they are not.
    void setSynced(bool synced);
    // In hide mode hidden collections show, dimmed, so they can be shown again.
    void setHideMode(bool on);
    bool unsyncedMarkShown() const;
    // The short pulse of a completed sync, in `color`.
    void pulse(const QColor& color);
    bool isPulsing() const;
    // The collection's context menu (built for `index`; shown by a right click).
    void fillMenu(QMenu& menu, int index);

signals:
    void collectionSelected(int index);
    void addCollectionRequested();
    void renameRequested(int index);
    void deleteRequested(int index);
    // A collection was dragged into the gap before `destination` (0...count).
    void moveRequested(const QString& id, int destination);
    void addFolderRequested();
    void colorChangeRequested(int index, const QString& colorHex);
    void hiddenChangeRequested(int index, bool hidden);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuild();
    void startMove(int index);
    int gapAt(int x) const;
    void showMenu(int index, const QPoint& globalPos);

    std::vector<CollectionEntry> m_collections;
    int m_selected = -1;
    bool m_hideMode = false;
    QScrollArea* m_scroll = nullptr;
    QLabel* m_unsyncedMark = nullptr;
    QVariantAnimation* m_pulse = nullptr;
    QColor m_pulseColor;
    QHBoxLayout* m_buttons = nullptr;
    QButtonGroup* m_group = nullptr;
    std::vector<QToolButton*> m_collectionButtons;
    QPoint m_pressPos;
    int m_pressed = -1;
};

// The gap (0...count) a collection dropped at x lands in, given the buttons' centres left to right.
int collectionDropGap(const std::vector<int>& centres, int x);

// A small filled circle in the collection's colour, for buttons and menus.
QIcon collectionDot(const QString& colorHex, int size = 10);

} // namespace kivo::app
