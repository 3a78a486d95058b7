#pragma once

// A row's tags as small chips at the right end of its name cell; the name is cut short before
// them rather than run underneath.

#include <QStyledItemDelegate>

namespace kivo::app {

class TagChipDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(
        QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

protected:
    struct Painted {
        int nameRight = 0; // where the drawn name ends
        int chipsLeft = 0; // where the chips begin (the cell's right end when there are none)
    };
    // The row as the base delegate draws it, its name shortened to leave room for the chips.
    Painted paintWithChips(
        QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const;
};

// The width the chips of `tags` take (at most `room`), and paints them right-aligned in `area`
// when a painter is given. Chips that do not fit are summed up as "+N".
int paintTagChips(
    QPainter* painter, const QRect& area, const QStringList& tags, const QStyleOptionViewItem& option);

} // namespace kivo::app
