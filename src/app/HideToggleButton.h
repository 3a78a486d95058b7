#pragma once

// The hide toggle at the end of each row's name while hide mode is on: an eye, crossed out on a
// hidden row, with a "Skipped" or "Auto-skipped" badge on a skipped folder. A click toggles the
// hidden mark; an Alt-click (the Option-click of the help texts) on a folder toggles its skip mark,
// or on an automatically skipped folder its exemption. Outside hide mode a folder holding hidden or
// skipped items shows a small dot there, which says so when pointed at. Drawn by the row's
// delegate, so a list of any length costs no widgets.

#include "organise/HiddenFileManager.h"

#include <QPointer>
#include <QStyledItemDelegate>

namespace kivo::app {

// A row's marks as the models hand them to the views.
int packRowMarks(const organise::RowMarks& marks);
organise::RowMarks unpackRowMarks(int bits);

class HideToggleButton : public QStyledItemDelegate {
    Q_OBJECT
public:
    // `inner` draws the row itself (the default drawing when null); the toggle is drawn over it.
    explicit HideToggleButton(QStyledItemDelegate* inner = nullptr, QObject* parent = nullptr);

    void paint(
        QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
        const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
        const QModelIndex& index) override;

    // Where the toggle of a row drawn in `rowRect` sits.
    static QRect toggleRect(const QRect& rowRect);

signals:
    void toggleRequested(const QString& path, organise::HideToggleAction action);

private:
    QPointer<QStyledItemDelegate> m_inner;
};

} // namespace kivo::app
