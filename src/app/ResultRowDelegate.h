#pragma once

// Result rows come from all over the collection: after its name each row shows, dimmed, the
// folder it lies in, and then its tags.

#include "app/TagChips.h"

namespace kivo::app {

class ResultRowDelegate : public TagChipDelegate {
    Q_OBJECT
public:
    using TagChipDelegate::TagChipDelegate;
    void paint(
        QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The last two components of a file's folder ("Drums/Kicks"), as result rows show it.
QString resultFolderText(const QString& filePath);

} // namespace kivo::app
