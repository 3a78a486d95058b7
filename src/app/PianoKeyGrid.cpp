#include "app/PianoKeyGrid.h"

#include "music/MusicalKey.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

#include <array>

namespace kivo::app {

namespace {

constexpr std::array<int, 7> kWhite { 0, 2, 4, 5, 7, 9, 11 };
// A black key sits on the line after this white key.
constexpr std::array<std::pair<int, int>, 5> kBlack { { { 1, 0 }, { 3, 1 }, { 6, 3 }, { 8, 4 }, { 10, 5 } } };

bool isBlack(int pc)
{
    return pc == 1 || pc == 3 || pc == 6 || pc == 8 || pc == 10;
}

} // namespace

PianoKeyGrid::PianoKeyGrid(QWidget* parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(tr("Key"));
    setToolTip(tr("Choose a key (← → and Space from the keyboard)"));
    setMinimumSize(140, 34);
}

QSize PianoKeyGrid::sizeHint() const
{
    return { 168, 38 };
}

QRect PianoKeyGrid::keyRect(int pc) const
{
    const double white = (width() - 1) / 7.0;
    if (!isBlack(pc)) {
        const int i = int(std::find(kWhite.begin(), kWhite.end(), pc) - kWhite.begin());
        return QRect(int(i * white), 0, int((i + 1) * white) - int(i * white), height() - 1);
    }
    for (const auto& [black, after] : kBlack)
        if (black == pc) {
            const double centre = (after + 1) * white;
            const int w = int(white * 0.62);
            return QRect(int(centre - w / 2.0), 0, w, int(height() * 0.6));
        }
    return {};
}

std::optional<int> PianoKeyGrid::keyAt(QPoint pos) const
{
    for (const auto& [black, after] : kBlack)
        if (keyRect(black).contains(pos))
            return black;
    for (const int pc : kWhite)
        if (keyRect(pc).contains(pos))
            return pc;
    return std::nullopt;
}

void PianoKeyGrid::setChosen(std::optional<int> pitchClass)
{
    if (pitchClass == m_chosen)
        return;
    m_chosen = pitchClass;
    if (pitchClass)
        m_focused = *pitchClass;
    update();
}

void PianoKeyGrid::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor highlight = palette().color(QPalette::Highlight);
    const QColor line = palette().color(QPalette::Mid);
    auto draw = [&](int pc) {
        const QRect r = keyRect(pc);
        const bool chosen = m_chosen == pc;
        QColor fill = isBlack(pc) ? QColor(40, 40, 44) : QColor(250, 250, 250);
        if (chosen)
            fill = isBlack(pc) ? highlight.darker(130) : highlight;
        if (!isEnabled())
            fill = fill.lighter(isBlack(pc) ? 250 : 100);
        p.fillRect(r, fill);
        p.setPen(line);
        p.drawRect(r);
        if (hasFocus() && m_focused == pc) {
            QPen focus(chosen ? palette().color(QPalette::HighlightedText) : highlight, 2);
            p.setPen(focus);
            p.drawRect(r.adjusted(2, 2, -2, -2));
        }
    };
    for (const int pc : kWhite)
        draw(pc);
    for (const auto& [black, after] : kBlack)
        draw(black);
    // Names on the white keys' lower part, the chosen one in its highlight text colour.
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.75));
    p.setFont(small);
    for (const int pc : kWhite) {
        const QRect r = keyRect(pc);
        p.setPen(m_chosen == pc ? palette().color(QPalette::HighlightedText) : QColor(90, 90, 90));
        p.drawText(r.adjusted(0, 0, 0, -2), Qt::AlignHCenter | Qt::AlignBottom,
            QString::fromStdString(music::MusicalKey::rootName(pc, false, music::KeySpelling::flat)));
    }
}

void PianoKeyGrid::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    if (const auto pc = keyAt(event->position().toPoint())) {
        m_focused = *pc;
        setFocus(Qt::MouseFocusReason);
        emit keyPressed(*pc);
    }
}

void PianoKeyGrid::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Left:
        m_focused = (m_focused + 11) % 12;
        update();
        return;
    case Qt::Key_Right:
        m_focused = (m_focused + 1) % 12;
        update();
        return;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit keyPressed(m_focused);
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

} // namespace kivo::app
