#include "app/MetadataEditor.h"

#include "index/MetadataOverrideStore.h"
#include "music/MusicalKey.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kivo::app {

namespace {

// Roots and keys as the user reads them: "F♯", "B♭ Minor".
QString glyphs(std::string text)
{
    QString out = QString::fromStdString(text);
    out.replace(QLatin1Char('#'), QChar(0x266F));
    out.replace(QLatin1Char('b'), QChar(0x266D));
    return out;
}

QPushButton* toggle(const QString& text, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setCheckable(true);
    b->setAutoDefault(false);
    b->setFocusPolicy(Qt::TabFocus);
    return b;
}

} // namespace

MetadataEditor::MetadataEditor(index::MetadataOverrideStore& store, MetadataEditorItems items,
    music::KeySpelling spelling, Field focus, QWidget* parent)
    : QDialog(parent)
    , m_store(store)
    , m_items(std::move(items))
    , m_spelling(spelling)
{
    setObjectName(QStringLiteral("metadataEditor"));
    setWindowTitle(tr("Tempo and Key"));
    auto* column = new QVBoxLayout(this);
    auto* title = new QLabel(m_items.paths.size() == 1
            ? tr("Tempo and key of “%1”").arg(QString::fromStdString(m_items.firstName))
            : tr("Tempo and key of %1 items").arg(m_items.paths.size()),
        this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    column->addWidget(title);
    if (m_items.anyFolder) {
        auto* note = new QLabel(
            tr("Applies to everything inside the folder that has no tempo or key of its own."), this);
        note->setWordWrap(true);
        note->setEnabled(false);
        column->addWidget(note);
    }
    column->addSpacing(6);
    column->addWidget(buildBPMRow());
    column->addSpacing(6);
    column->addWidget(buildKeyRows());
    // Where the values shown come from, so that a heard value is not taken for one the file states.
    QStringList sources;
    if (!m_items.bpmSource.empty())
        sources << tr("tempo from %1").arg(QString::fromStdString(m_items.bpmSource));
    if (!m_items.keySource.empty())
        sources << tr("key from %1").arg(QString::fromStdString(m_items.keySource));
    if (!sources.isEmpty()) {
        auto* source = new QLabel(tr("Source: %1").arg(sources.join(QStringLiteral(", "))), this);
        source->setObjectName(QStringLiteral("valueSource"));
        source->setEnabled(false);
        column->addWidget(source);
    }

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QDialogButtonBox::Cancel);
    QPushButton* saveButton = buttons->addButton(tr("Save"), QDialogButtonBox::AcceptRole);
    saveButton->setObjectName(QStringLiteral("save"));
    saveButton->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &MetadataEditor::save);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addSpacing(8);
    column->addWidget(buttons);

    if (m_items.key)
        if (const auto key = music::MusicalKey::parse(*m_items.key)) {
            m_root = key->pitchClass;
            m_minor = key->isMinor;
        }
    showKey(true);
    (focus == Field::key ? m_keyField : m_bpmField)->setFocus();
    (focus == Field::key ? m_keyField : m_bpmField)->selectAll();
}

QWidget* MetadataEditor::buildBPMRow()
{
    auto* row = new QWidget(this);
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(tr("BPM"), row);
    label->setMinimumWidth(40);
    m_bpmField = new QLineEdit(row);
    m_bpmField->setObjectName(QStringLiteral("bpmField"));
    m_bpmField->setValidator(new QIntValidator(1, 999, m_bpmField));
    m_bpmField->setMaxLength(3);
    m_bpmField->setFixedWidth(72);
    m_bpmField->setPlaceholderText(m_items.bpmDiffers ? tr("various") : tr("none"));
    if (m_items.bpm)
        m_bpmField->setText(QString::number(*m_items.bpm));
    label->setBuddy(m_bpmField);
    m_bpmAutomatic = toggle(tr("Automatic"), row);
    m_bpmAutomatic->setToolTip(tr("Use the tempo the file's name or header gives"));
    m_bpmNone = toggle(tr("None"), row);
    m_bpmNone->setToolTip(tr("This has no tempo, whatever its name says"));
    connect(m_bpmField, &QLineEdit::textEdited, this, &MetadataEditor::bpmEdited);
    connect(m_bpmAutomatic, &QPushButton::clicked, this,
        [this](bool on) { setBPMChange(on ? Change::automatic : Change::none); });
    connect(m_bpmNone, &QPushButton::clicked, this,
        [this](bool on) { setBPMChange(on ? Change::cleared : Change::none); });
    line->addWidget(label);
    line->addWidget(m_bpmField);
    line->addStretch(1);
    line->addWidget(m_bpmAutomatic);
    line->addWidget(m_bpmNone);
    return row;
}

QWidget* MetadataEditor::buildKeyRows()
{
    auto* box = new QWidget(this);
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(tr("Key"), box);
    m_keyField = new QLineEdit(box);
    m_keyField->setObjectName(QStringLiteral("keyField"));
    m_keyField->setPlaceholderText(
        m_items.keyDiffers ? tr("various: Am, F# minor, 8A…") : tr("Am, F# minor, 8A…"));
    label->setBuddy(m_keyField);
    connect(m_keyField, &QLineEdit::textEdited, this, &MetadataEditor::keyTyped);
    grid->addWidget(label, 0, 0);
    grid->addWidget(m_keyField, 0, 1, 1, 6);

    m_roots = new QButtonGroup(box);
    m_roots->setExclusive(false);
    for (int pc = 0; pc < 12; ++pc) {
        QPushButton* root = toggle(QString(), box);
        root->setObjectName(QStringLiteral("root%1").arg(pc));
        root->setMinimumWidth(40);
        m_roots->addButton(root, pc);
        grid->addWidget(root, 1 + pc / 6, 1 + pc % 6);
    }
    connect(m_roots, &QButtonGroup::idClicked, this, &MetadataEditor::rootChosen);

    auto* modes = new QHBoxLayout;
    m_major = toggle(tr("Major"), box);
    m_minorButton = toggle(tr("Minor"), box);
    m_keyAutomatic = toggle(tr("Automatic"), box);
    m_keyAutomatic->setToolTip(tr("Use the key the file's name or header gives"));
    m_keyNone = toggle(tr("None"), box);
    m_keyNone->setToolTip(tr("This has no key, whatever its name says"));
    connect(m_major, &QPushButton::clicked, this, [this] { qualityChosen(false); });
    connect(m_minorButton, &QPushButton::clicked, this, [this] { qualityChosen(true); });
    connect(m_keyAutomatic, &QPushButton::clicked, this,
        [this](bool on) { setKeyChange(on ? Change::automatic : Change::none); });
    connect(m_keyNone, &QPushButton::clicked, this,
        [this](bool on) { setKeyChange(on ? Change::cleared : Change::none); });
    modes->addWidget(m_major);
    modes->addWidget(m_minorButton);
    modes->addStretch(1);
    modes->addWidget(m_keyAutomatic);
    modes->addWidget(m_keyNone);
    grid->addLayout(modes, 3, 1, 1, 6);
    return box;
}

void MetadataEditor::bpmEdited(const QString& text)
{
    setBPMChange(text.isEmpty() ? Change::none : Change::value);
}

void MetadataEditor::setBPMChange(Change change)
{
    m_bpmChange = change;
    if (change == Change::automatic || change == Change::cleared)
        m_bpmField->clear();
    m_bpmField->setPlaceholderText(change == Change::automatic ? tr("automatic")
            : change == Change::cleared                        ? tr("none")
            : m_items.bpmDiffers                               ? tr("various")
                                                               : QString());
    m_bpmAutomatic->setChecked(change == Change::automatic);
    m_bpmNone->setChecked(change == Change::cleared);
}

void MetadataEditor::keyTyped(const QString& text)
{
    const auto key = music::MusicalKey::parse(text.toStdString());
    if (key) {
        m_root = key->pitchClass;
        m_minor = key->isMinor;
        m_keyChange = Change::value;
    } else {
        m_root.reset();
        m_keyChange = text.trimmed().isEmpty() ? Change::none : Change::value;
    }
    showKey(false);
}

void MetadataEditor::rootChosen(int pitchClass)
{
    m_root = pitchClass;
    m_keyChange = Change::value;
    showKey(true);
}

void MetadataEditor::qualityChosen(bool minor)
{
    m_minor = minor;
    if (m_root)
        m_keyChange = Change::value;
    showKey(m_root.has_value());
}

void MetadataEditor::setKeyChange(Change change)
{
    m_keyChange = change;
    if (change == Change::automatic || change == Change::cleared)
        m_root.reset();
    showKey(true);
    if (change == Change::automatic || change == Change::cleared)
        m_keyField->setPlaceholderText(change == Change::automatic ? tr("automatic") : tr("none"));
}

void MetadataEditor::showKey(bool rewriteField)
{
    for (int pc = 0; pc < 12; ++pc) {
        QAbstractButton* b = m_roots->button(pc);
        b->setText(glyphs(music::MusicalKey::rootName(pc, m_minor, m_spelling)));
        b->setChecked(m_root == pc && m_keyChange != Change::automatic && m_keyChange != Change::cleared);
    }
    m_major->setChecked(!m_minor);
    m_minorButton->setChecked(m_minor);
    m_keyAutomatic->setChecked(m_keyChange == Change::automatic);
    m_keyNone->setChecked(m_keyChange == Change::cleared);
    if (!rewriteField)
        return;
    if (m_root) {
        const music::MusicalKey key { *m_root, m_minor,
            music::MusicalKey::rootName(*m_root, m_minor, m_spelling) };
        m_keyField->setText(QString::fromStdString(key.displayName(m_spelling)));
    } else {
        m_keyField->clear();
    }
    m_keyField->setStyleSheet(QString());
}

void MetadataEditor::save()
{
    std::optional<std::string> keyText;
    if (m_keyChange == Change::value) {
        if (!m_root) {
            // Not a key: say so where it was typed and let the user fix it.
            m_keyField->setStyleSheet(QStringLiteral("QLineEdit { border: 1px solid #e0484b; }"));
            m_keyField->setFocus();
            return;
        }
        // Stored in the user's spelling, in the plain form every key text has ("F#m", "Eb").
        keyText = music::MusicalKey { *m_root, m_minor,
            music::MusicalKey::rootName(*m_root, m_minor, m_spelling) }
                      .keyText();
    }
    const auto& paths = m_items.paths;
    switch (m_bpmChange) {
    case Change::value:
        m_store.setBPM(m_bpmField->text().toLongLong(), paths);
        break;
    case Change::automatic:
        m_store.resetBPM(paths);
        break;
    case Change::cleared:
        m_store.clearBPM(paths);
        break;
    case Change::none:
        break;
    }
    switch (m_keyChange) {
    case Change::value:
        m_store.setKey(keyText, paths);
        break;
    case Change::automatic:
        m_store.resetKey(paths);
        break;
    case Change::cleared:
        m_store.clearKey(paths);
        break;
    case Change::none:
        break;
    }
    accept();
}

} // namespace kivo::app
