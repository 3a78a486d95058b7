#include "app/ResultRowDelegate.h"

#include "app/BrowserColumns.h"

#include <QApplication>
#include <QPainter>

namespace kivo::app {

QString resultFolderText(const QString& filePath)
{
    QStringList parts = filePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (parts.size() < 2)
        return {};
    parts.removeLast();
    const qsizetype keep = std::min<qsizetype>(2, parts.size());
    return parts.mid(parts.size() - keep).join(QLatin1Char('/'));
}

void ResultRowDelegate::paint(
    QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const Painted painted = paintWithChips(painter, option, index);
    if (index.column() != kNameColumn)
        return;
    const QString folder = resultFolderText(index.data(kPathRole).toString());
    if (folder.isEmpty())
        return;
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const QRect rest(
        painted.nameRight + 14, text.top(), painted.chipsLeft - 8 - (painted.nameRight + 14), text.height());
    if (rest.width() < 24)
        return;
    const bool selected = opt.state & QStyle::State_Selected;
    QColor colour = selected ? opt.palette.color(QPalette::HighlightedText)
                             : opt.palette.color(QPalette::PlaceholderText);
    if (selected)
        colour.setAlphaF(0.75);
    painter->save();
    painter->setPen(colour);
    painter->drawText(rest, Qt::AlignLeft | Qt::AlignVCenter,
        opt.fontMetrics.elidedText(folder, Qt::ElideLeft, rest.width()));
    painter->restore();
}

} // namespace kivo::app
