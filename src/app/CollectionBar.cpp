#include "app/CollectionBar.h"

#include "library/BookmarkGroup.h"

#include <QApplication>
#include <QButtonGroup>
#include <QColorDialog>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVariantAnimation>
#include <QWheelEvent>

#include <algorithm>

namespace kivo::app {

namespace {
constexpr char kCollectionMime[] = "application/x-kivo-collection";
}

QString literalText(const QString& typed)
{
    return QString(typed).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

int collectionDropGap(const std::vector<int>& centres, int x)
{
    int gap = 0;
    while (gap < int(centres.size()) && x > centres[std::size_t(gap)])
        ++gap;
    return gap;
}

QIcon collectionDot(const QString& colorHex, int size)
{
    QPixmap pm(size * 2, size * 2);
    pm.setDevicePixelRatio(2);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QColor c(QLatin1Char('#') + colorHex);
    if (!c.isValid())
        c = Qt::gray;
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawEllipse(QRectF(1, 1, size - 2, size - 2));
    return QIcon(pm);
}

CollectionBar::CollectionBar(QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 6, 8, 6);
    row->setSpacing(4);
    // Many collections scroll sideways (wheel) instead of widening the window.
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    auto* strip = new QWidget(m_scroll);
    strip->setAutoFillBackground(false);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_buttons = new QHBoxLayout(strip);
    m_buttons->setContentsMargins(0, 0, 0, 0);
    m_buttons->setSpacing(4);

    m_scroll->setWidget(strip);
    m_scroll->viewport()->installEventFilter(this);
    row->addWidget(m_scroll, 1);

    m_unsyncedMark = new QLabel(this);
    m_unsyncedMark->setObjectName(QStringLiteral("unsyncedMark"));
    m_unsyncedMark->setPixmap(collectionDot(QStringLiteral("9A9A9A"), 8).pixmap(8, 8));
    m_unsyncedMark->setToolTip(tr("The collections changed since the last sync"));
    // Its place is kept while hidden, so the buttons never shift when a sync ends.
    QSizePolicy keep = m_unsyncedMark->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_unsyncedMark->setSizePolicy(keep);
    m_unsyncedMark->hide();
    row->addWidget(m_unsyncedMark);

    m_pulse = new QVariantAnimation(this);
    m_pulse->setStartValue(1.0);
    m_pulse->setEndValue(0.0);
    m_pulse->setDuration(700);
    m_pulse->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_pulse, &QVariantAnimation::valueChanged, this, [this] { update(); });

    auto* add = new QToolButton(this);
    add->setText(QStringLiteral("+"));
    add->setToolTip(tr("New collection"));
    add->setAutoRaise(true);
    connect(add, &QToolButton::clicked, this, &CollectionBar::addCollectionRequested);
    row->addWidget(add);
    // Space goes to the collections first (up to their width), the rest before "Add folder…".
    row->addStretch(0);

    auto* addFolder = new QToolButton(this);
    addFolder->setObjectName(QStringLiteral("addFolderButton"));
    addFolder->setText(tr("Add folder…"));
    addFolder->setToolTip(tr("Add a folder of samples to this collection"));
    addFolder->setAutoRaise(true);
    connect(addFolder, &QToolButton::clicked, this, &CollectionBar::addFolderRequested);
    row->addWidget(addFolder);

    setAcceptDrops(true);
    m_group = new QButtonGroup(this);
    m_group->setExclusive(true);
    connect(m_group, &QButtonGroup::idClicked, this, [this](int id) {
        if (id != m_selected)
            emit collectionSelected(id);
    });
}

QToolButton* CollectionBar::button(int index) const
{
    if (index < 0 || index >= int(m_collectionButtons.size()))
        return nullptr;
    return m_collectionButtons[std::size_t(index)];
}

void CollectionBar::setCollections(const std::vector<CollectionEntry>& collections, int selected)
{
    if (collections == m_collections && selected == m_selected)
        return;
    const bool sameList = collections == m_collections;
    m_collections = collections;
    m_selected = selected;
    if (!sameList)
        rebuild();
    for (int i = 0; i < int(m_collectionButtons.size()); ++i)
        m_collectionButtons[std::size_t(i)]->setChecked(i == m_selected);
    // Once the new buttons have their places.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (QToolButton* b = button(m_selected))
                m_scroll->ensureWidgetVisible(b, 8, 0);
        },
        Qt::QueuedConnection);
}

void CollectionBar::rebuild()
{
    for (auto* b : m_collectionButtons) {
        m_group->removeButton(b);
        m_buttons->removeWidget(b);
        b->hide();
        b->deleteLater();
    }
    m_collectionButtons.clear();
    for (int i = 0; i < int(m_collections.size()); ++i) {
        const auto& c = m_collections[std::size_t(i)];
        auto* b = new QToolButton(m_scroll->widget());
        b->setText(literalText(c.name));
        b->setIcon(collectionDot(c.colorHex));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setCheckable(true);
        b->setAutoRaise(true);
        b->setObjectName(QStringLiteral("collectionButton"));
        QColor tint(QLatin1Char('#') + c.colorHex);
        if (!tint.isValid())
            tint = Qt::gray;
        // The selected collection is tinted with its own colour.
        b->setStyleSheet(QStringLiteral("QToolButton { border: 1px solid transparent; border-radius: 11px; "
                                        "padding: 2px 10px 2px 8px; }"
                                        "QToolButton:hover { border-color: rgba(%1, %2, %3, 110); }"
                                        "QToolButton:checked { background: rgba(%1, %2, %3, 60); "
                                        "border-color: rgba(%1, %2, %3, 170); font-weight: bold; }")
                             .arg(tint.red())
                             .arg(tint.green())
                             .arg(tint.blue()));
        b->setToolTip(c.rootPaths.isEmpty() ? tr("No folders yet") : c.rootPaths.join(QLatin1Char('\n')));
        b->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(b, &QToolButton::customContextMenuRequested, this,
            [this, b, i](const QPoint& pos) { showMenu(i, b->mapToGlobal(pos)); });
        b->installEventFilter(this);
        m_group->addButton(b, i);
        m_buttons->addWidget(b);
        // Shown now, so the width below counts it (a new child of a shown bar starts hidden).
        b->setVisible(!c.hidden || m_hideMode);
        if (c.hidden) {
            auto* dim = new QGraphicsOpacityEffect(b);
            dim->setOpacity(0.45);
            b->setGraphicsEffect(dim);
            b->setToolTip(tr("Hidden") + QLatin1Char('\n') + b->toolTip());
        }
        m_collectionButtons.push_back(b);
    }
    // As wide as the buttons when there is room, narrower (scrolling) when there is not.
    const QSize content = m_scroll->widget()->sizeHint();
    m_scroll->setFixedHeight(content.height());
    m_scroll->setMaximumWidth(content.width());
}

bool CollectionBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_scroll->viewport() && event->type() == QEvent::Wheel) {
        auto* wheel = static_cast<QWheelEvent*>(event);
        QScrollBar* bar = m_scroll->horizontalScrollBar();
        const QPoint delta = wheel->angleDelta();
        bar->setValue(bar->value() - (delta.x() != 0 ? delta.x() : delta.y()) / 2);
        return true;
    }
    auto* button = qobject_cast<QToolButton*>(watched);
    const auto found = std::find(m_collectionButtons.begin(), m_collectionButtons.end(), button);
    if (found == m_collectionButtons.end())
        return false;
    const int index = int(found - m_collectionButtons.begin());
    if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            m_pressed = index;
            m_pressPos = mouse->position().toPoint();
        }
    } else if (event->type() == QEvent::MouseMove && m_pressed == index) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if ((mouse->buttons() & Qt::LeftButton)
            && (mouse->position().toPoint() - m_pressPos).manhattanLength()
                >= QApplication::startDragDistance()) {
            m_pressed = -1;
            button->setDown(false);
            startMove(index);
            return true;
        }
    } else if (event->type() == QEvent::MouseButtonRelease) {
        m_pressed = -1;
    }
    return false;
}

void CollectionBar::startMove(int index)
{
    if (m_collections.size() < 2)
        return;
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(kCollectionMime), m_collections[std::size_t(index)].id.toUtf8());
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(m_collectionButtons[std::size_t(index)]->grab());
    drag->exec(Qt::MoveAction);
}

int CollectionBar::gapAt(int x) const
{
    std::vector<int> centres;
    for (const auto* b : m_collectionButtons)
        centres.push_back(b->mapTo(this, QPoint(b->width() / 2, 0)).x());
    return collectionDropGap(centres, x);
}

void CollectionBar::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->source() == this && event->mimeData()->hasFormat(QString::fromLatin1(kCollectionMime)))
        event->acceptProposedAction();
}

void CollectionBar::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->source() == this)
        event->acceptProposedAction();
}

void CollectionBar::dropEvent(QDropEvent* event)
{
    if (event->source() != this)
        return;
    const QString id = QString::fromUtf8(event->mimeData()->data(QString::fromLatin1(kCollectionMime)));
    event->acceptProposedAction();
    emit moveRequested(id, gapAt(event->position().toPoint().x()));
}

void CollectionBar::fillMenu(QMenu& menu, int index)
{
    menu.addAction(tr("Rename…"), this, [this, index] { emit renameRequested(index); });
    QMenu* colors = menu.addMenu(tr("Colour"));
    const QString current = index >= 0 && index < int(m_collections.size())
        ? m_collections[std::size_t(index)].colorHex.toUpper()
        : QString();
    // The palette's colours by name, in its order.
    static constexpr std::array<const char*, library::kGroupPalette.size()> kNames { QT_TR_NOOP("Red"),
        QT_TR_NOOP("Blue"), QT_TR_NOOP("Yellow"), QT_TR_NOOP("Green"), QT_TR_NOOP("Orange"),
        QT_TR_NOOP("Purple"), QT_TR_NOOP("Cyan"), QT_TR_NOOP("Pink") };
    for (std::size_t i = 0; i < library::kGroupPalette.size(); ++i) {
        const QString color = QString::fromLatin1(library::kGroupPalette[i]);
        QAction* a = colors->addAction(collectionDot(color, 12), tr(kNames[i]), this,
            [this, index, color] { emit colorChangeRequested(index, color); });
        a->setCheckable(true);
        a->setChecked(color == current);
        a->setToolTip(QLatin1Char('#') + color);
    }
    colors->addSeparator();
    colors->addAction(tr("Custom…"), this, [this, index, current] {
        const QColor chosen
            = QColorDialog::getColor(QColor(QLatin1Char('#') + current), this, tr("Collection colour"));
        if (chosen.isValid())
            emit colorChangeRequested(index, chosen.name(QColor::HexRgb).mid(1).toUpper());
    });
    const bool hidden
        = index >= 0 && index < int(m_collections.size()) && m_collections[std::size_t(index)].hidden;
    menu.addAction(hidden ? tr("Show Collection") : tr("Hide Collection"), this,
        [this, index, hidden] { emit hiddenChangeRequested(index, !hidden); });
    QAction* del = menu.addAction(tr("Delete…"), this, [this, index] { emit deleteRequested(index); });
    // The last collection stays: there is always one to browse.
    del->setEnabled(m_collections.size() > 1);
}

void CollectionBar::showMenu(int index, const QPoint& globalPos)
{
    QMenu menu(this);
    fillMenu(menu, index);
    menu.exec(globalPos);
}

void CollectionBar::setHideMode(bool on)
{
    if (on == m_hideMode)
        return;
    m_hideMode = on;
    rebuild();
    for (int i = 0; i < int(m_collectionButtons.size()); ++i)
        m_collectionButtons[std::size_t(i)]->setChecked(i == m_selected);
}

void CollectionBar::setSynced(bool synced)
{
    m_unsyncedMark->setVisible(!synced);
}

bool CollectionBar::unsyncedMarkShown() const
{
    return !m_unsyncedMark->isHidden();
}

void CollectionBar::pulse(const QColor& color)
{
    m_pulseColor = color;
    m_pulse->stop();
    m_pulse->start();
}

bool CollectionBar::isPulsing() const
{
    return m_pulse->state() == QAbstractAnimation::Running;
}

void CollectionBar::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (!isPulsing())
        return;
    QPainter p(this);
    QColor glow = m_pulseColor;
    glow.setAlphaF(0.35 * m_pulse->currentValue().toDouble());
    p.fillRect(rect(), glow);
}

} // namespace kivo::app
