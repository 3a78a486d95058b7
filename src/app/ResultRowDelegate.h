#pragma once

// Result rows come from all over the collection: after its name each row shows, dimmed, the
// folder it lies in.

#include <QStyledItemDelegate>

namespace kivo::app {

class ResultRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(
        QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The last two components of a file's folder ("Drums/Kicks"), as result rows show it.
QString resultFolderText(const QString& filePath);

} // namespace kivo::app
