#include "app/FilterPanel.h"

#include "app/PianoKeyGrid.h"
#include "organise/FilterControls.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRandomGenerator>
#include <QToolButton>
#include <QVBoxLayout>

namespace kivo::app {

namespace {

QToolButton* toggle(const QString& text, QWidget* parent)
{
    auto* b = new QToolButton(parent);
    b->setText(text);
    b->setCheckable(true);
    b->setFocusPolicy(Qt::StrongFocus);
    b->setAutoRaise(false);
    return b;
}

QLabel* heading(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

} // namespace

FilterPanel::FilterPanel(organise::SharedSearchState& state, QWidget* parent)
    : QFrame(parent)
    , m_state(state)
    , m_seeds([] { return QRandomGenerator::system()->generate64(); })
{
    setObjectName(QStringLiteral("filterPanel"));
    setFrameShape(QFrame::StyledPanel);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 6, 8, 6);
    column->setSpacing(6);

    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    m_files = toggle(tr("Files"), this);
    m_folder = toggle(tr("Folder"), this);
    auto* modes = new QButtonGroup(this);
    modes->addButton(m_files);
    modes->addButton(m_folder);
    modes->setExclusive(true);
    connect(m_files, &QToolButton::clicked, this,
        [this] { m_state.edit([](auto& f) { f.mode = organise::FilterMode::files; }); });
    connect(m_folder, &QToolButton::clicked, this,
        [this] { m_state.edit([](auto& f) { f.mode = organise::FilterMode::folder; }); });
    row->addWidget(m_files);
    row->addWidget(m_folder);
    row->addSpacing(10);

    row->addWidget(heading(tr("BPM"), this));
    m_min = new QLineEdit(this);
    m_min->setPlaceholderText(tr("Exact / Min"));
    m_min->setAccessibleName(tr("Exact / Min"));
    m_max = new QLineEdit(this);
    m_max->setPlaceholderText(tr("Max"));
    m_max->setAccessibleName(tr("Max"));
    for (QLineEdit* field : { m_min, m_max }) {
        field->setFixedWidth(field->fontMetrics().horizontalAdvance(tr("Exact / Min")) + 16);
        field->setClearButtonEnabled(false);
        row->addWidget(field);
    }
    connect(m_min, &QLineEdit::textChanged, this,
        [this] { bpmEdited(m_min, m_minText, &organise::SearchFilters::minBPM); });
    connect(m_max, &QLineEdit::textChanged, this,
        [this] { bpmEdited(m_max, m_maxText, &organise::SearchFilters::maxBPM); });
    row->addSpacing(10);
    // The shuffle, the scope and the count close the first row; the key has a row of its own.
    auto* keyRow = new QHBoxLayout;
    keyRow->setSpacing(6);
    keyRow->addWidget(heading(tr("Key"), this));
    m_grid = new PianoKeyGrid(this);
    m_grid->setFixedSize(m_grid->sizeHint());
    connect(m_grid, &PianoKeyGrid::keyPressed, this,
        [this](int pc) { m_state.edit([pc](auto& f) { organise::chooseKeyRoot(f, pc); }); });
    keyRow->addWidget(m_grid);
    m_major = toggle(tr("Major"), this);
    m_minor = toggle(tr("Minor"), this);
    connect(m_major, &QToolButton::clicked, this,
        [this] { m_state.edit([](auto& f) { organise::pressQuality(f, false); }); });
    connect(m_minor, &QToolButton::clicked, this,
        [this] { m_state.edit([](auto& f) { organise::pressQuality(f, true); }); });
    keyRow->addWidget(m_major);
    keyRow->addWidget(m_minor);
    m_relative = toggle(tr("Relative"), this);
    m_relative->setAccessibleName(tr("Relative key"));
    connect(m_relative, &QToolButton::clicked, this,
        [this] { m_state.edit([](auto& f) { organise::toggleRelative(f); }); });
    keyRow->addWidget(m_relative);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("keySummary"));
    keyRow->addWidget(m_summary);
    keyRow->addStretch(1);
    m_analysedNote = new QLabel(tr("Files without a tempo or key of their own pass by the heard ones"), this);
    m_analysedNote->setObjectName(QStringLiteral("analysedNote"));
    m_analysedNote->setEnabled(false); // dimmed: a remark, not a control
    m_analysedNote->hide();
    keyRow->addWidget(m_analysedNote);

    row->addStretch(1);
    m_shuffle = toggle(tr("Shuffle"), this);
    m_shuffle->setContextMenuPolicy(Qt::CustomContextMenu);
    m_shuffle->setGraphicsEffect(new QGraphicsOpacityEffect(m_shuffle));
    connect(m_shuffle, &QToolButton::clicked, this, [this] {
        if (organise::shuffleUsable(m_query.toStdString(), m_state.filters()))
            m_state.edit([seed = m_seeds()](auto& f) { organise::pressShuffle(f, seed); });
        showFilters();
    });
    connect(m_shuffle, &QToolButton::customContextMenuRequested, this, [this](const QPoint& pos) {
        QMenu menu(this);
        menu.addAction(tr("Re-shuffle"), this, &FilterPanel::reshuffle);
        menu.exec(m_shuffle->mapToGlobal(pos));
    });
    row->addWidget(m_shuffle);
    m_all = new QCheckBox(tr("All collections"), this);
    m_all->setToolTip(tr("Search every collection, not only the selected one"));
    connect(m_all, &QCheckBox::toggled, this, &FilterPanel::scopeChanged);
    row->addWidget(m_all);
    m_count = new QLabel(this);
    m_count->setObjectName(QStringLiteral("filterCount"));
    m_count->setMinimumWidth(m_count->fontMetrics().horizontalAdvance(QStringLiteral("000,000 results")));
    m_count->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(m_count);
    column->addLayout(row);
    column->addLayout(keyRow);

    m_tagRow = new QWidget(this);
    m_tagBox = new QHBoxLayout(m_tagRow);
    m_tagBox->setContentsMargins(0, 0, 0, 0);
    m_tagBox->setSpacing(4);
    m_tagBox->addWidget(heading(tr("Tags"), m_tagRow));
    m_noTags = new QLabel(tr("No tags yet: give a sample a tag from its menu (Alt+T)."), m_tagRow);
    m_noTags->setEnabled(false);
    m_tagBox->addWidget(m_noTags);
    m_tagBox->addStretch(1);
    m_clearTags = new QToolButton(m_tagRow);
    m_clearTags->setText(tr("Clear"));
    m_clearTags->setFocusPolicy(Qt::StrongFocus);
    connect(
        m_clearTags, &QToolButton::clicked, this, [this] { m_state.edit([](auto& f) { f.tags.clear(); }); });
    m_tagBox->addWidget(m_clearTags);
    column->addWidget(m_tagRow);

    connect(&m_state, &organise::SharedSearchState::filtersChanged, this, &FilterPanel::showFilters);
    showFilters();
}

void FilterPanel::reshuffle()
{
    m_state.edit([seed = m_seeds()](auto& f) { f.shuffleSeed = seed; });
}

QAbstractButton* FilterPanel::modeButton(organise::FilterMode mode) const
{
    return mode == organise::FilterMode::files ? m_files : m_folder;
}

QAbstractButton* FilterPanel::qualityButton(bool minor) const
{
    return minor ? m_minor : m_major;
}

QAbstractButton* FilterPanel::clearTagsButton() const
{
    return m_clearTags;
}

bool FilterPanel::searchesAllCollections() const
{
    return m_all->isChecked();
}

void FilterPanel::bpmEdited(
    QLineEdit* field, QString& text, std::optional<std::int64_t> organise::SearchFilters::*bound)
{
    const QString typed = field->text();
    const QString cleaned = QString::fromStdString(organise::cleanBPMText(typed.toStdString()));
    if (cleaned != typed) {
        // The write-back is an edit of its own, which then sets the bound.
        field->setText(cleaned);
        return;
    }
    text = cleaned;
    m_state.edit([&](auto& f) { f.*bound = organise::bpmBound(cleaned.toStdString()); });
}

void FilterPanel::setTags(const std::vector<organise::SampleTag>& tags)
{
    m_tags = tags;
    m_state.edit([&](auto& f) {
        std::erase_if(f.tags, [&](const organise::TagId& id) {
            return std::none_of(tags.begin(), tags.end(), [&](const auto& t) { return t.id == id; });
        });
    });
    rebuildTagButtons();
    showFilters();
}

void FilterPanel::rebuildTagButtons()
{
    for (QToolButton* b : m_tagButtons)
        delete b;
    m_tagButtons.clear();
    int at = 1;
    for (const auto& tag : m_tags) {
        auto* b = toggle(QString::fromStdString(tag.name), m_tagRow);
        connect(b, &QToolButton::clicked, this,
            [this, id = tag.id] { m_state.edit([&](auto& f) { organise::toggleTag(f, id); }); });
        m_tagBox->insertWidget(at++, b);
        m_tagButtons.push_back(b);
    }
    m_noTags->setVisible(m_tags.empty());
    m_clearTags->setVisible(!m_tags.empty());
}

void FilterPanel::setUsesAnalysedValues(bool uses)
{
    m_analysedNote->setVisible(uses);
}

void FilterPanel::setKeySpelling(music::KeySpelling spelling)
{
    m_spelling = spelling;
    showFilters();
}

void FilterPanel::setQuery(const QString& query)
{
    m_query = query;
    showFilters();
}

void FilterPanel::setResultCount(std::optional<std::size_t> count)
{
    if (!count) {
        m_count->clear();
        return;
    }
    m_count->setText(*count == 1 ? tr("1 result") : tr("%L1 results").arg(qulonglong(*count)));
}

void FilterPanel::changeEvent(QEvent* event)
{
    QFrame::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        update();
}

void FilterPanel::showFilters()
{
    const organise::SearchFilters& f = m_state.filters();
    m_files->setChecked(f.mode == organise::FilterMode::files);
    m_folder->setChecked(f.mode == organise::FilterMode::folder);
    // The fields keep what was typed unless the bound changed elsewhere.
    auto showBound = [](QLineEdit* field, QString& text, std::optional<std::int64_t> bound) {
        if (organise::bpmBound(text.toStdString()) == bound)
            return;
        text = bound ? QString::number(*bound) : QString();
        if (field->text() != text)
            field->setText(text);
    };
    showBound(m_min, m_minText, f.minBPM);
    showBound(m_max, m_maxText, f.maxBPM);

    m_grid->setChosen(f.key ? std::optional<int>(f.key->pitchClass) : std::nullopt);
    m_major->setEnabled(f.key.has_value());
    m_minor->setEnabled(f.key.has_value());
    m_major->setChecked(f.key && f.key->isMinor == false);
    m_minor->setChecked(f.key && f.key->isMinor == true);
    m_relative->setEnabled(organise::relativeUsable(f));
    m_relative->setChecked(f.key && f.key->includeRelative);
    m_relative->setToolTip(QString::fromStdString(organise::relativeHelp(f)));
    m_summary->setText(f.key ? QString::fromStdString(organise::keySummary(*f.key, m_spelling)) : QString());

    const bool usable = organise::shuffleUsable(m_query.toStdString(), f);
    m_shuffle->setChecked(usable && f.shuffleSeed.has_value());
    m_shuffle->setToolTip(QString::fromStdString(organise::shuffleHelp(m_query.toStdString(), f)));
    static_cast<QGraphicsOpacityEffect*>(m_shuffle->graphicsEffect())
        ->setOpacity(usable ? 1.0 : organise::kUnusableOpacity);

    for (std::size_t i = 0; i < m_tagButtons.size() && i < m_tags.size(); ++i)
        m_tagButtons[i]->setChecked(f.tags.contains(m_tags[i].id));
    m_clearTags->setEnabled(!f.tags.empty());
}

} // namespace kivo::app
