#include "app/TagEditor.h"

#include "app/DialogTitle.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace kivo::app {

namespace {

const QString kTagMime = QStringLiteral("application/x-kivo-tag");
constexpr int kGridColumns = 4;

using organise::TagButtonState;
using organise::TagChoice;

} // namespace

TagButton::TagButton(const organise::SampleTag& tag, QWidget* parent)
    : QAbstractButton(parent)
    , m_id(tag.id)
{
    setText(QString::fromStdString(tag.name));
    setObjectName(QStringLiteral("tag:") + text());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TagButton::setState(TagButtonState state)
{
    m_state = state;
    setToolTip(QString::fromStdString(organise::tagButtonHelp(text().toStdString(), state)));
    update();
}

QSize TagButton::sizeHint() const
{
    const QFontMetrics fm(font());
    return { std::min(fm.horizontalAdvance(text()) + 24, 200), fm.height() + 12 };
}

void TagButton::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    const QColor accent = pal.color(QPalette::Highlight);
    const QRectF box = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QColor fill = Qt::transparent;
    QPen border(pal.color(QPalette::Mid), 1);
    QColor textColour = pal.color(QPalette::ButtonText);
    QFont f = font();
    switch (m_state) {
    case TagButtonState::on:
        fill = accent;
        border.setColor(accent);
        textColour = pal.color(QPalette::HighlightedText);
        break;
    case TagButtonState::inherited:
        fill = accent;
        fill.setAlphaF(0.2f);
        border.setColor(accent);
        f.setItalic(true);
        break;
    case TagButtonState::mixed:
        fill = accent;
        fill.setAlphaF(0.1f);
        border.setColor(accent);
        border.setStyle(Qt::DashLine);
        break;
    case TagButtonState::off:
        break;
    }
    if (hasFocus())
        border.setWidthF(2);
    p.setPen(border);
    p.setBrush(fill);
    p.drawRoundedRect(box, box.height() / 2, box.height() / 2);
    p.setFont(f);
    p.setPen(textColour);
    const QString label = m_state == TagButtonState::mixed ? QStringLiteral("\u2013 ") + text() : text();
    p.drawText(rect().adjusted(10, 0, -10, 0), Qt::AlignCenter,
        QFontMetrics(f).elidedText(label, Qt::ElideRight, width() - 20));
}

void TagButton::mousePressEvent(QMouseEvent* event)
{
    m_pressPos = event->position().toPoint();
    QAbstractButton::mousePressEvent(event);
}

void TagButton::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton)
        || (event->position().toPoint() - m_pressPos).manhattanLength() < QApplication::startDragDistance()) {
        QAbstractButton::mouseMoveEvent(event);
        return;
    }
    // A drag reorders rather than clicks.
    setDown(false);
    auto* mime = new QMimeData;
    mime->setData(kTagMime, QByteArray::fromStdString(m_id.text()));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->setPixmap(grab());
    drag->setHotSpot(m_pressPos);
    drag->exec(Qt::MoveAction);
}

void TagButton::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    menu.addAction(tr("Rename…"), this, [this] { emit renameRequested(m_id); });
    menu.addAction(tr("Delete…"), this, [this] { emit deleteRequested(m_id); });
    menu.exec(event->globalPos());
}

TagEditor::TagEditor(
    organise::TagStore& store, std::vector<std::string> paths, const std::string& firstName, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_paths(std::move(paths))
{
    setObjectName(QStringLiteral("tagEditor"));
    setWindowTitle(tr("Tags"));
    resize(460, 320);
    auto* column = new QVBoxLayout(this);
    auto* title = new QLabel(m_paths.size() == 1 ? tr("Tags of “%1”").arg(QString::fromStdString(firstName))
                                                 : tr("Tags of %1 items").arg(m_paths.size()),
        this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    column->addWidget(title);

    m_newTag = new QLineEdit(this);
    m_newTag->setObjectName(QStringLiteral("newTag"));
    m_newTag->setPlaceholderText(tr("New tag: type a name and press Return"));
    m_newTag->setMaxLength(int(organise::kMaxTagNameLength) + 8);
    m_newTag->installEventFilter(this);
    column->addWidget(m_newTag);

    m_grid = new QWidget;
    m_grid->setAcceptDrops(true);
    m_grid->installEventFilter(this);
    m_gridLayout = new QGridLayout(m_grid);
    m_gridLayout->setSpacing(6);
    m_gridLayout->setAlignment(Qt::AlignTop);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(m_grid);
    column->addWidget(scroll, 1);
    auto* hint = new QLabel(tr("Right-click a tag to rename or delete it; drag it to reorder."), this);
    hint->setEnabled(false);
    column->addWidget(hint);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* clear = buttons->addButton(tr("Clear"), QDialogButtonBox::ResetRole);
    clear->setObjectName(QStringLiteral("clear"));
    clear->setAutoDefault(false);
    clear->setToolTip(tr("Remove every tag from the selected items"));
    QPushButton* cancel = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setAutoDefault(false);
    QPushButton* saveButton = buttons->addButton(tr("Save"), QDialogButtonBox::AcceptRole);
    saveButton->setObjectName(QStringLiteral("save"));
    saveButton->setDefault(true);
    connect(clear, &QPushButton::clicked, this, &TagEditor::clearAll);
    connect(buttons, &QDialogButtonBox::accepted, this, &TagEditor::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);

    for (const auto& tag : m_store.tags())
        m_baseline[tag.id] = m_store.buttonState(tag.id, m_paths);
    connect(&m_store, &organise::TagStore::tagsChanged, this, &TagEditor::rebuild);
    rebuild();
    m_newTag->setFocus();
}

std::vector<TagButton*> TagEditor::buttons() const
{
    std::vector<TagButton*> out;
    for (int i = 0; i < m_gridLayout->count(); ++i)
        if (auto* b = qobject_cast<TagButton*>(m_gridLayout->itemAt(i)->widget()))
            out.push_back(b);
    return out;
}

TagButton* TagEditor::button(const organise::TagId& id) const
{
    for (TagButton* b : buttons())
        if (b->tagId() == id)
            return b;
    return nullptr;
}

TagButtonState TagEditor::shownState(const organise::TagId& id) const
{
    if (const auto d = m_decisions.find(id); d != m_decisions.end())
        return d->second == TagChoice::on ? TagButtonState::on : TagButtonState::off;
    const auto b = m_baseline.find(id);
    return b == m_baseline.end() ? TagButtonState::off : b->second;
}

void TagEditor::toggle(const organise::TagId& id)
{
    const TagButtonState shown = shownState(id);
    const bool has = shown == TagButtonState::on || shown == TagButtonState::inherited;
    const TagChoice choice = has ? TagChoice::off : TagChoice::on;
    const auto b = m_baseline.find(id);
    const TagButtonState base = b == m_baseline.end() ? TagButtonState::off : b->second;
    // Back where it started: no decision left to apply.
    const bool same = (choice == TagChoice::off && base == TagButtonState::off)
        || (choice == TagChoice::on && (base == TagButtonState::on || base == TagButtonState::inherited));
    if (same)
        m_decisions.erase(id);
    else
        m_decisions[id] = choice;
    if (TagButton* button = this->button(id))
        button->setState(shownState(id));
}

void TagEditor::rebuild()
{
    for (TagButton* b : buttons()) {
        m_gridLayout->removeWidget(b);
        b->deleteLater();
    }
    int i = 0;
    for (const auto& tag : m_store.tags()) {
        if (!m_baseline.contains(tag.id))
            m_baseline[tag.id] = m_store.buttonState(tag.id, m_paths);
        auto* b = new TagButton(tag, m_grid);
        b->setState(shownState(tag.id));
        const organise::TagId id = tag.id;
        connect(b, &TagButton::clicked, this, [this, id] { toggle(id); });
        connect(b, &TagButton::renameRequested, this, &TagEditor::askRename);
        connect(b, &TagButton::deleteRequested, this, &TagEditor::askDelete);
        m_gridLayout->addWidget(b, i / kGridColumns, i % kGridColumns);
        ++i;
    }
    // Decisions about tags deleted meanwhile are dropped.
    std::erase_if(m_decisions, [this](const auto& d) { return !m_store.tag(d.first); });
}

void TagEditor::createFromField()
{
    const std::string name = organise::cleanTagName(m_newTag->text().toStdString());
    if (name.empty())
        return;
    // The name of a tag already there picks that tag rather than making "Drums 2".
    std::optional<organise::TagId> id;
    for (const auto& tag : m_store.tags())
        if (index::lowerCase(tag.name) == index::lowerCase(name))
            id = tag.id;
    if (!id)
        id = m_store.createTag(name);
    if (!id)
        return;
    m_newTag->clear();
    if (shownState(*id) != TagButtonState::on && shownState(*id) != TagButtonState::inherited)
        toggle(*id);
}

void TagEditor::save()
{
    for (const auto& [id, choice] : m_decisions)
        m_store.setTag(id, choice, m_paths);
    accept();
}

void TagEditor::clearAll()
{
    m_store.clearTags(m_paths);
    accept();
}

void TagEditor::askDelete(const organise::TagId& id)
{
    const organise::SampleTag* tag = m_store.tag(id);
    if (!tag)
        return;
    auto* box
        = new QMessageBox(QMessageBox::Warning, QString::fromStdString(organise::deleteTagTitle(tag->name)),
            QString::fromUtf8(organise::kDeleteTagMessage), QMessageBox::NoButton, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("deleteTagConfirmation"));
    box->addButton(tr("Cancel"), QMessageBox::RejectRole);
    QPushButton* del = box->addButton(tr("Delete"), QMessageBox::DestructiveRole);
    del->setStyleSheet(QStringLiteral(
        "QPushButton { color: white; background: #e0484b; border-radius: 4px; padding: 4px 14px; }"));
    connect(box, &QMessageBox::finished, this, [this, box, del, id] {
        if (box->clickedButton() == del)
            m_store.deleteTag(id);
    });
    leaveRoomForTitle(*box);
    box->open();
}

void TagEditor::askRename(const organise::TagId& id)
{
    const organise::SampleTag* tag = m_store.tag(id);
    if (!tag)
        return;
    auto* ask = new QInputDialog(this);
    ask->setAttribute(Qt::WA_DeleteOnClose);
    ask->setObjectName(QStringLiteral("renameTag"));
    ask->setWindowTitle(tr("Rename tag"));
    ask->setLabelText(tr("Name:"));
    ask->setTextValue(QString::fromStdString(tag->name));
    connect(ask, &QInputDialog::textValueSelected, this,
        [this, id](const QString& name) { m_store.renameTag(id, name.toStdString()); });
    leaveRoomForTitle(*ask);
    ask->open();
}

void TagEditor::dropTag(const organise::TagId& id, const QPoint& gridPos)
{
    const auto all = buttons();
    int target = int(all.size()); // after the last one
    for (int i = 0; i < int(all.size()); ++i) {
        const QRect r = all[std::size_t(i)]->geometry();
        // Reading order: the first button the point lies before.
        if (gridPos.y() < r.top() || (gridPos.y() <= r.bottom() && gridPos.x() < r.center().x())) {
            target = i;
            break;
        }
    }
    int from = -1;
    for (int i = 0; i < int(all.size()); ++i)
        if (all[std::size_t(i)]->tagId() == id)
            from = i;
    if (from < 0)
        return;
    // The gap it leaves closes first.
    if (from < target)
        --target;
    m_store.moveTag(id, target);
}

bool TagEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_newTag && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
            && !m_newTag->text().trimmed().isEmpty()) {
            createFromField();
            return true;
        }
    }
    if (watched == m_grid) {
        if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (drag->mimeData()->hasFormat(kTagMime)) {
                drag->acceptProposedAction();
                return true;
            }
        } else if (event->type() == QEvent::Drop) {
            auto* drop = static_cast<QDropEvent*>(event);
            const auto id = index::Uuid::parse(drop->mimeData()->data(kTagMime).toStdString());
            if (id) {
                drop->acceptProposedAction();
                // Later: the drag's own event loop is still running.
                const QPoint pos = drop->position().toPoint();
                QMetaObject::invokeMethod(
                    this, [this, id = *id, pos] { dropTag(id, pos); }, Qt::QueuedConnection);
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace kivo::app
