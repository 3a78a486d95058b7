#include "app/CollectionBar.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QToolButton>

namespace kivo::app {

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
    m_buttons = new QHBoxLayout;
    m_buttons->setSpacing(4);
    row->addLayout(m_buttons);

    auto* add = new QToolButton(this);
    add->setText(QStringLiteral("+"));
    add->setToolTip(tr("New collection"));
    add->setAutoRaise(true);
    connect(add, &QToolButton::clicked, this, &CollectionBar::addCollectionRequested);
    row->addWidget(add);
    row->addStretch(1);

    auto* addFolder = new QToolButton(this);
    addFolder->setObjectName(QStringLiteral("addFolderButton"));
    addFolder->setText(tr("Add folder…"));
    addFolder->setToolTip(tr("Add a folder of samples to this collection"));
    addFolder->setAutoRaise(true);
    connect(addFolder, &QToolButton::clicked, this, &CollectionBar::addFolderRequested);
    row->addWidget(addFolder);

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
}

void CollectionBar::rebuild()
{
    for (auto* b : m_collectionButtons) {
        m_group->removeButton(b);
        b->deleteLater();
    }
    m_collectionButtons.clear();
    for (int i = 0; i < int(m_collections.size()); ++i) {
        const auto& c = m_collections[std::size_t(i)];
        auto* b = new QToolButton(this);
        b->setText(c.name);
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
        m_group->addButton(b, i);
        m_buttons->addWidget(b);
        m_collectionButtons.push_back(b);
    }
}

void CollectionBar::showMenu(int index, const QPoint& globalPos)
{
    QMenu menu(this);
    menu.addAction(tr("Rename…"), this, [this, index] { emit renameRequested(index); });
    QAction* del = menu.addAction(tr("Delete…"), this, [this, index] { emit deleteRequested(index); });
    // The last collection stays: there is always one to browse.
    del->setEnabled(m_collections.size() > 1);
    menu.exec(globalPos);
}

} // namespace kivo::app
