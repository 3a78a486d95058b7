#include "app/TagChips.h"

#include "app/BrowserColumns.h"

#include <QApplication>
#include <QPainter>

namespace kivo::app {

namespace {

constexpr int kChipGap = 4;
constexpr int kChipPadding = 6;
// Chips never take more than this share of the cell: the name matters more.
constexpr double kMaxChipShare = 0.5;

QFont chipFont(const QFont& base)
{
    QFont f = base;
    f.setPointSizeF(base.pointSizeF() * 0.82);
    return f;
}

} // namespace

int paintTagChips(
    QPainter* painter, const QRect& area, const QStringList& tags, const QStyleOptionViewItem& option)
{
    if (tags.isEmpty() || area.width() <= 0)
        return 0;
    const QFont font = chipFont(option.font);
    const QFontMetrics fm(font);
    const int height = std::min(area.height() - 4, fm.height() + 2);
    // Widths from the first tag on, as many as fit; the rest become "+N".
    std::vector<int> widths;
    int used = 0;
    const auto chipWidth = [&](const QString& text) { return fm.horizontalAdvance(text) + 2 * kChipPadding; };
    for (int i = 0; i < tags.size(); ++i) {
        const int w = chipWidth(tags[i]) + (widths.empty() ? 0 : kChipGap);
        const int rest = tags.size() - i - 1;
        const int more = rest > 0 ? chipWidth(QStringLiteral("+%1").arg(rest)) + kChipGap : 0;
        if (used + w + more > area.width())
            break;
        widths.push_back(w);
        used += w;
    }
    const int shown = int(widths.size());
    QString more;
    if (shown < tags.size()) {
        more = QStringLiteral("+%1").arg(tags.size() - shown);
        const int w = chipWidth(more) + (shown ? kChipGap : 0);
        if (used + w > area.width())
            return used;
        used += w;
    }
    if (!painter)
        return used;
    const bool selected = option.state & QStyle::State_Selected;
    QColor fill = option.palette.color(QPalette::Highlight);
    fill.setAlphaF(selected ? 0.0f : 0.16f);
    QColor border = selected ? option.palette.color(QPalette::HighlightedText)
                             : option.palette.color(QPalette::Highlight);
    border.setAlphaF(0.6f);
    const QColor text
        = selected ? option.palette.color(QPalette::HighlightedText) : option.palette.color(QPalette::Text);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setFont(font);
    int x = area.right() + 1 - used;
    const int y = area.top() + (area.height() - height) / 2;
    auto chip = [&](const QString& label) {
        const int w = chipWidth(label);
        const QRectF r(x + 0.5, y + 0.5, w - 1, height - 1);
        painter->setPen(border);
        painter->setBrush(fill);
        painter->drawRoundedRect(r, height / 2.0, height / 2.0);
        painter->setPen(text);
        painter->drawText(r, Qt::AlignCenter, label);
        x += w + kChipGap;
    };
    for (int i = 0; i < shown; ++i)
        chip(tags[i]);
    if (!more.isEmpty())
        chip(more);
    painter->restore();
    return used;
}

TagChipDelegate::Painted TagChipDelegate::paintWithChips(
    QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const QStringList tags = index.data(kTagsRole).toStringList();
    const QRect chipArea(text.left() + int(text.width() * (1 - kMaxChipShare)), text.top(),
        int(text.width() * kMaxChipShare) - 4, text.height());
    const int chips = paintTagChips(nullptr, chipArea, tags, opt);
    const int room = text.width() - (chips ? chips + 10 : 0);
    opt.text = opt.fontMetrics.elidedText(opt.text, opt.textElideMode, std::max(0, room));
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);
    if (chips)
        paintTagChips(
            painter, QRect(text.right() - 4 - chips + 1, text.top(), chips, text.height()), tags, opt);
    return { text.left() + opt.fontMetrics.horizontalAdvance(opt.text),
        chips ? text.right() - 4 - chips : text.right() };
}

void TagChipDelegate::paint(
    QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    paintWithChips(painter, option, index);
}

} // namespace kivo::app
