#include "app/HotkeyBar.h"

#include "app/CustomDragManager.h"
#include "app/TapTempoButton.h"
#include "hotkeys/HotkeyManager.h"
#include "hotkeys/TapTempoManager.h"
#include "music/DiatonicTriads.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QToolButton>

namespace kivo::app {

using hotkeys::HotkeyManager;
using hotkeys::HotkeyMode;

namespace {
constexpr int kSlotHeight = 40;
constexpr int kChordCount = 7;
} // namespace

QStringList droppedFiles(const QMimeData* mime)
{
    QStringList out;
    if (!mime)
        return out;
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile())
            continue;
        const QString path = url.toLocalFile();
        if (!QFileInfo(path).isDir())
            out << QFileInfo(path).absoluteFilePath();
    }
    return out;
}

HotkeySlotButton::HotkeySlotButton(int slot, QWidget* parent)
    : QAbstractButton(parent)
    , m_slot(slot)
{
    setObjectName(QStringLiteral("hotkeySlot%1").arg(slot + 1));
    setFocusPolicy(Qt::NoFocus);
    setAcceptDrops(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void HotkeySlotButton::setContent(
    const QString& path, const QString& title, const QString& subtitle, bool missing)
{
    m_path = path;
    m_title = title;
    m_subtitle = subtitle;
    m_missing = missing;
    setAccessibleName(QString::number(m_slot + 1) + QLatin1Char(' ') + title);
    setToolTip(path);
    update();
}

void HotkeySlotButton::setAcceptsFiles(bool on)
{
    setAcceptDrops(on);
}

QSize HotkeySlotButton::sizeHint() const
{
    return { 96, kSlotHeight };
}

QSize HotkeySlotButton::minimumSizeHint() const
{
    return { 40, kSlotHeight };
}

void HotkeySlotButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    QColor fill = pal.color(QPalette::Button);
    if (isDown())
        fill = fill.darker(125);
    else if (underMouse())
        fill = fill.lighter(110);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(m_dropTarget ? QPen(pal.color(QPalette::Highlight), 2) : QPen(pal.color(QPalette::Mid), 1));
    p.setBrush(fill);
    p.drawRoundedRect(box, 5, 5);

    QFont digitFont = font();
    digitFont.setBold(true);
    digitFont.setPointSizeF(digitFont.pointSizeF() * 0.85);
    p.setFont(digitFont);
    p.setPen(pal.color(QPalette::PlaceholderText));
    p.drawText(QRect(6, 3, 16, 14), Qt::AlignLeft | Qt::AlignTop, QString::number(m_slot + 1));

    const bool empty = m_path.isEmpty();
    QColor text = m_missing ? QColor(QString::fromLatin1(HotkeyBar::kMissingColor))
        : empty             ? pal.color(QPalette::PlaceholderText)
                            : pal.color(QPalette::ButtonText);
    if (!isEnabled())
        text = pal.color(QPalette::Disabled, QPalette::ButtonText);
    QFont titleFont = font();
    if (empty)
        titleFont.setPointSizeF(titleFont.pointSizeF() * 0.85);
    p.setFont(titleFont);
    p.setPen(text);
    const QRect area = rect().adjusted(18, 2, -6, -2);
    const QFontMetrics fm(titleFont);
    if (empty) {
        // The invitation wraps rather than lose words on a narrow slot.
        p.drawText(area, Qt::AlignCenter | Qt::TextWordWrap, m_title);
        return;
    }
    if (m_subtitle.isEmpty()) {
        p.drawText(area, Qt::AlignCenter, fm.elidedText(m_title, Qt::ElideMiddle, area.width()));
        return;
    }
    const QRect top(area.left(), area.top(), area.width(), area.height() / 2 + 2);
    const QRect bottom(area.left(), top.bottom() - 2, area.width(), area.height() - top.height() + 2);
    QFont bold = titleFont;
    bold.setBold(true);
    p.setFont(bold);
    p.drawText(top, Qt::AlignHCenter | Qt::AlignBottom, m_title);
    QFont small = titleFont;
    small.setPointSizeF(small.pointSizeF() * 0.85);
    p.setFont(small);
    p.drawText(bottom, Qt::AlignHCenter | Qt::AlignTop,
        QFontMetrics(small).elidedText(m_subtitle, Qt::ElideRight, area.width()));
}

void HotkeySlotButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        m_pressPos = event->position().toPoint();
    QAbstractButton::mousePressEvent(event);
}

void HotkeySlotButton::mouseMoveEvent(QMouseEvent* event)
{
    if ((event->buttons() & Qt::LeftButton) && !m_path.isEmpty()
        && (event->position().toPoint() - m_pressPos).manhattanLength()
            >= QApplication::startDragDistance()) {
        // A drag is no click: the slot does not fire when the drag ends.
        setDown(false);
        CustomDragManager::shared().beginDrag({ QUrl::fromLocalFile(m_path) }, window());
        return;
    }
    QAbstractButton::mouseMoveEvent(event);
}

void HotkeySlotButton::contextMenuEvent(QContextMenuEvent* event)
{
    emit menuRequested(m_slot, event->globalPos());
}

void HotkeySlotButton::dragEnterEvent(QDragEnterEvent* event)
{
    if (droppedFiles(event->mimeData()).isEmpty())
        return;
    event->setDropAction(
        event->proposedAction() == Qt::MoveAction ? Qt::CopyAction : event->proposedAction());
    event->accept();
    m_dropTarget = true;
    update();
}

void HotkeySlotButton::dragLeaveEvent(QDragLeaveEvent*)
{
    m_dropTarget = false;
    update();
}

void HotkeySlotButton::dropEvent(QDropEvent* event)
{
    m_dropTarget = false;
    update();
    const QStringList files = droppedFiles(event->mimeData());
    if (files.isEmpty())
        return;
    // The sample stays where it is: the slot only points at it.
    event->setDropAction(
        event->proposedAction() == Qt::MoveAction ? Qt::CopyAction : event->proposedAction());
    event->accept();
    emit filesDropped(m_slot, files);
}

HotkeyBar::HotkeyBar(hotkeys::HotkeyManager& hotkeys, hotkeys::TapTempoManager& tapTempo, QWidget* parent)
    : QWidget(parent)
    , m_hotkeys(hotkeys)
    , m_tapTempo(tapTempo)
{
    setObjectName(QStringLiteral("hotkeyBar"));
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(8, 6, 8, 6);
    outer->setSpacing(6);
    m_row = new QHBoxLayout;
    m_row->setSpacing(4);
    outer->addLayout(m_row, 1);
    m_keyLabel = new QLabel(this);
    m_keyLabel->setObjectName(QStringLiteral("chordKeyLabel"));
    outer->addWidget(m_keyLabel);
    m_keyButton = new QToolButton(this);
    m_keyButton->setObjectName(QStringLiteral("changeKeyButton"));
    m_keyButton->setText(tr("Change key"));
    m_keyButton->setPopupMode(QToolButton::InstantPopup);
    m_keyButton->setFocusPolicy(Qt::NoFocus);
    m_keyButton->setMenu(new QMenu(m_keyButton));
    connect(m_keyButton->menu(), &QMenu::aboutToShow, this, &HotkeyBar::buildKeyMenu);
    outer->addWidget(m_keyButton);
    m_tap = new TapTempoButton(m_tapTempo, this);
    outer->addWidget(m_tap, 0, Qt::AlignVCenter);

    connect(&m_hotkeys, &HotkeyManager::modeChanged, this, &HotkeyBar::rebuild);
    connect(&m_hotkeys, &HotkeyManager::slotsChanged, this, &HotkeyBar::refreshContents);
    connect(&m_hotkeys, &HotkeyManager::missingSlotPathsChanged, this, &HotkeyBar::refreshContents);
    connect(&m_hotkeys, &HotkeyManager::chordTriadsChanged, this, &HotkeyBar::refreshContents);
    connect(&m_hotkeys, &HotkeyManager::chordKeyChanged, this, &HotkeyBar::refreshContents);
    rebuild();
}

HotkeyBar::~HotkeyBar()
{
    // The engine need not stay warm for a bar that is gone.
    if (m_chordBankOnScreen)
        emit chordBankOnScreenChanged(false);
}

HotkeySlotButton* HotkeyBar::slotButton(int slot) const
{
    return slot >= 0 && slot < int(m_buttons.size()) ? m_buttons[std::size_t(slot)] : nullptr;
}

void HotkeyBar::rebuild()
{
    const bool chords = m_hotkeys.mode().kind == HotkeyMode::Kind::chords;
    if (chords != m_chordLayout || m_buttons.empty()) {
        for (auto* b : m_buttons)
            b->deleteLater();
        m_buttons.clear();
        const int count = chords ? kChordCount : hotkeys::kSlotCount;
        for (int i = 0; i < count; ++i) {
            auto* b = new HotkeySlotButton(i, this);
            b->setAcceptsFiles(!chords);
            connect(b, &QAbstractButton::clicked, this, [this, i] { emit fireRequested(i); });
            connect(b, &HotkeySlotButton::filesDropped, this,
                [this](int slot, const QStringList& files) { m_hotkeys.assignMany(files, slot); });
            connect(b, &HotkeySlotButton::menuRequested, this, &HotkeyBar::showSlotMenu);
            m_row->addWidget(b, 1);
            m_buttons.push_back(b);
        }
        m_chordLayout = chords;
    }
    m_keyLabel->setVisible(chords);
    m_keyButton->setVisible(chords);
    refreshContents();
    updateChordBankOnScreen();
}

void HotkeyBar::refreshContents()
{
    if (m_chordLayout) {
        const auto& triads = m_hotkeys.chordTriads();
        for (int i = 0; i < int(m_buttons.size()); ++i) {
            const hotkeys::Triad* t = i < int(triads.size()) ? &triads[std::size_t(i)] : nullptr;
            QString path, title = QStringLiteral("–"), name;
            if (t && t->url) {
                path = QString::fromStdString(t->url->string());
                title = QString::fromStdString(t->roman);
                const QString stem = QFileInfo(path).completeBaseName();
                const qsizetype dash = stem.indexOf(QStringLiteral(" - "));
                name = dash >= 0 ? stem.mid(dash + 3) : QString();
            }
            m_buttons[std::size_t(i)]->setContent(path, title, name, false);
            m_buttons[std::size_t(i)]->setEnabled(!path.isEmpty());
        }
        const int pc = m_hotkeys.chordPitchClass();
        const bool minor = m_hotkeys.chordIsMinor();
        m_keyLabel->setText(QString::fromStdString(music::chordKeyRootName(pc, minor))
            + (minor ? tr(" minor") : tr(" major")));
        return;
    }
    const auto& shown = m_hotkeys.shownSlots();
    for (int i = 0; i < int(m_buttons.size()); ++i) {
        const QString path = QString::fromStdString(shown[std::size_t(i)]);
        const QString title = path.isEmpty() ? tr("Drop a sample here") : QFileInfo(path).fileName();
        m_buttons[std::size_t(i)]->setContent(path, title, {}, m_hotkeys.missingSlotPaths().contains(path));
        m_buttons[std::size_t(i)]->setEnabled(true);
    }
}

void HotkeyBar::addBarActions(QMenu* menu)
{
    const HotkeyMode mode = m_hotkeys.mode();
    QAction* clear = menu->addAction(tr("Clear all"), this, [this] { m_hotkeys.clearAll(); });
    // The chord bank has no slots of its own to clear.
    clear->setEnabled(mode != HotkeyMode::chords());
    QMenu* function = menu->addMenu(tr("Change hotkey function"));
    QMenu* banks = function->addMenu(tr("Banks"));
    auto add = [this](QMenu* m, const QString& text, HotkeyMode target, bool checked) {
        QAction* a = m->addAction(text, this, [this, target] { m_hotkeys.setMode(target); });
        a->setCheckable(true);
        a->setChecked(checked);
    };
    add(banks, tr("Collection"), HotkeyMode::collection(), mode == HotkeyMode::collection());
    banks->addSeparator();
    for (int b = 0; b < hotkeys::kGlobalBankCount; ++b)
        add(banks, QString(QChar('A' + b)), HotkeyMode::global(b), mode == HotkeyMode::global(b));
    add(function, tr("Chords"), HotkeyMode::chords(), mode == HotkeyMode::chords());
}

void HotkeyBar::showSlotMenu(int slot, const QPoint& globalPos)
{
    QMenu menu(this);
    const HotkeySlotButton* b = slotButton(slot);
    if (!m_chordLayout && b && !b->path().isEmpty()) {
        const QString path = b->path();
        menu.addAction(tr("Locate"), this, [this, path] { emit locateRequested(path); });
        menu.addAction(tr("Clear"), this, [this, slot] { m_hotkeys.clearSlot(slot); });
        menu.addSeparator();
    }
    addBarActions(&menu);
    menu.exec(globalPos);
}

void HotkeyBar::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    addBarActions(&menu);
    menu.exec(event->globalPos());
}

void HotkeyBar::buildKeyMenu()
{
    QMenu* menu = m_keyButton->menu();
    menu->clear();
    const int current = m_hotkeys.chordPitchClass();
    const bool minor = m_hotkeys.chordIsMinor();
    for (int pc = 0; pc < 12; ++pc) {
        QAction* a = menu->addAction(QString::fromStdString(music::chordKeyRootName(pc, minor)), this,
            [this, pc] { m_hotkeys.setChordKey(pc, m_hotkeys.chordIsMinor()); });
        a->setCheckable(true);
        a->setChecked(pc == current);
    }
    menu->addSeparator();
    for (bool m : { false, true }) {
        QAction* a = menu->addAction(m ? tr("Minor") : tr("Major"), this,
            [this, m] { m_hotkeys.setChordKey(m_hotkeys.chordPitchClass(), m); });
        a->setCheckable(true);
        a->setChecked(m == minor);
    }
}

void HotkeyBar::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    updateChordBankOnScreen();
}

void HotkeyBar::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    updateChordBankOnScreen();
}

void HotkeyBar::updateChordBankOnScreen()
{
    const bool on = m_chordLayout && isVisible();
    if (on == m_chordBankOnScreen)
        return;
    m_chordBankOnScreen = on;
    emit chordBankOnScreenChanged(on);
}

} // namespace kivo::app
