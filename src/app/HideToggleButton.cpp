#include "app/HideToggleButton.h"

#include "app/BrowserColumns.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

namespace kivo::app {

namespace {

enum MarkBit { kMissing = 1, kHidden = 2, kSkipped = 4, kAutoSkipped = 8, kExempt = 16, kContains = 32 };

bool inHideMode(const QModelIndex& index)
{
    return index.data(kHideModeRole).toBool();
}

void drawEye(QPainter* p, const QRectF& r, const QColor& colour, bool crossed)
{
    const QPointF c = r.center();
    const double w = r.width() * 0.42, h = r.height() * 0.26;
    QPainterPath eye;
    eye.moveTo(c.x() - w, c.y());
    eye.quadTo(c.x(), c.y() - 2 * h, c.x() + w, c.y());
    eye.quadTo(c.x(), c.y() + 2 * h, c.x() - w, c.y());
    p->setPen(QPen(colour, 1.4));
    p->setBrush(Qt::NoBrush);
    p->drawPath(eye);
    p->setBrush(colour);
    p->drawEllipse(c, h * 0.8, h * 0.8);
    if (crossed)
        p->drawLine(QPointF(c.x() - w, c.y() + w * 0.8), QPointF(c.x() + w, c.y() - w * 0.8));
}

} // namespace

int packRowMarks(const organise::RowMarks& m)
{
    return (m.missing ? kMissing : 0) | (m.hidden ? kHidden : 0) | (m.skipped ? kSkipped : 0)
        | (m.autoSkipped ? kAutoSkipped : 0) | (m.exempt ? kExempt : 0)
        | (m.containsHiddenOrSkipped ? kContains : 0);
}

organise::RowMarks unpackRowMarks(int bits)
{
    organise::RowMarks m;
    m.missing = bits & kMissing;
    m.hidden = bits & kHidden;
    m.skipped = bits & kSkipped;
    m.autoSkipped = bits & kAutoSkipped;
    m.exempt = bits & kExempt;
    m.containsHiddenOrSkipped = bits & kContains;
    return m;
}

HideToggleButton::HideToggleButton(QStyledItemDelegate* inner, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_inner(inner)
{
}

QRect HideToggleButton::toggleRect(const QRect& rowRect)
{
    const int side = std::max(12, rowRect.height() - 4);
    return QRect(rowRect.right() - side - 4, rowRect.center().y() - side / 2, side, side);
}

QSize HideToggleButton::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return m_inner ? m_inner->sizeHint(option, index) : QStyledItemDelegate::sizeHint(option, index);
}

void HideToggleButton::paint(
    QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const bool hideMode = inHideMode(index);
    const organise::RowMarks marks = unpackRowMarks(index.data(kRowMarksRole).toInt());
    QStyleOptionViewItem opt(option);
    // Room for the toggle, so a long name is cut short before it rather than under it.
    if (hideMode || marks.containsHiddenOrSkipped)
        opt.rect.setRight(toggleRect(option.rect).left() - 2);
    if (hideMode && marks.hidden)
        opt.font.setStrikeOut(true);
    if (hideMode && (marks.skipped || marks.autoSkipped))
        opt.font.setItalic(true);
    if (opt.rect != option.rect) {
        // The strip the toggle sits on gets the row's background (selection included).
        QStyleOptionViewItem strip(option);
        initStyleOption(&strip, index);
        strip.rect.setLeft(opt.rect.right() + 1);
        strip.text.clear();
        strip.icon = QIcon();
        strip.features &= ~QStyleOptionViewItem::HasDecoration;
        const QWidget* widget = option.widget;
        (widget ? widget->style() : QApplication::style())
            ->drawPrimitive(QStyle::PE_PanelItemViewItem, &strip, painter, widget);
    }
    if (m_inner)
        m_inner->paint(painter, opt, index);
    else
        QStyledItemDelegate::paint(painter, opt, index);

    const bool selected = option.state & QStyle::State_Selected;
    QColor ink
        = selected ? option.palette.color(QPalette::HighlightedText) : option.palette.color(QPalette::Text);
    const QRect toggle = toggleRect(option.rect);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (!hideMode) {
        if (marks.containsHiddenOrSkipped && index.data(kIsDirectoryRole).toBool()) {
            ink.setAlphaF(0.35);
            painter->setPen(Qt::NoPen);
            painter->setBrush(ink);
            painter->drawEllipse(QRectF(toggle).center(), 2.5, 2.5);
        }
        painter->restore();
        return;
    }
    ink.setAlphaF(marks.hidden ? 1.0 : 0.55);
    drawEye(painter, toggle, ink, marks.hidden);
    const QString badge = marks.skipped ? tr("Skipped") : marks.autoSkipped ? tr("Auto-skipped") : QString();
    if (!badge.isEmpty()) {
        QFont small = option.font;
        small.setPointSizeF(small.pointSizeF() * 0.85);
        const QFontMetrics fm(small);
        const int width = fm.horizontalAdvance(badge) + 10;
        const QRect pill(toggle.left() - width - 4, toggle.top() + 1, width, toggle.height() - 2);
        QColor fill = ink;
        fill.setAlphaF(0.15);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawRoundedRect(pill, pill.height() / 2.0, pill.height() / 2.0);
        painter->setFont(small);
        ink.setAlphaF(0.85);
        painter->setPen(ink);
        painter->drawText(pill, Qt::AlignCenter, badge);
    }
    painter->restore();
}

bool HideToggleButton::editorEvent(
    QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option, const QModelIndex& index)
{
    const bool press
        = event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick;
    const bool release = event->type() == QEvent::MouseButtonRelease;
    if ((press || release) && inHideMode(index)) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton
            && toggleRect(option.rect).contains(mouse->position().toPoint())) {
            // The press is taken too, so a click on the toggle leaves the selection alone.
            if (release) {
                // Ctrl-click too: many desktops take Alt-click for moving windows.
                const auto click = mouse->modifiers() & (Qt::AltModifier | Qt::ControlModifier)
                    ? organise::HideToggleClick::option
                    : organise::HideToggleClick::plain;
                emit toggleRequested(index.data(kPathRole).toString(),
                    organise::hideToggleAction(unpackRowMarks(index.data(kRowMarksRole).toInt()),
                        index.data(kIsDirectoryRole).toBool(), click));
            }
            return true;
        }
    }
    return m_inner
        ? static_cast<QAbstractItemDelegate*>(m_inner.data())->editorEvent(event, model, option, index)
        : QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool HideToggleButton::helpEvent(
    QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option, const QModelIndex& index)
{
    if (event && event->type() == QEvent::ToolTip && toggleRect(option.rect).contains(event->pos())) {
        const organise::RowMarks marks = unpackRowMarks(index.data(kRowMarksRole).toInt());
        QString text;
        if (inHideMode(index))
            text = QString::fromStdString(organise::hideToggleHelp(marks));
        else if (marks.containsHiddenOrSkipped && index.data(kIsDirectoryRole).toBool())
            text = QString::fromLatin1(organise::kContainsHiddenHint);
        if (!text.isEmpty()) {
            QToolTip::showText(event->globalPos(), text, view);
            return true;
        }
    }
    return m_inner ? m_inner->helpEvent(event, view, option, index)
                   : QStyledItemDelegate::helpEvent(event, view, option, index);
}

} // namespace kivo::app
