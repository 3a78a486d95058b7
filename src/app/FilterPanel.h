#pragma once

// The filter panel under the search field: files or folders, the BPM fields, the key grid with its
// quality and relative buttons, the shuffle, the user's tags, whether every collection is searched,
// and how many results pass. Every control edits the shared filter set; the panel shows it back.

#include "music/KeySpelling.h"
#include "organise/SharedSearchState.h"
#include "organise/TagStore.h"

#include <QFrame>

#include <functional>
#include <optional>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QToolButton;

namespace kivo::app {

class PianoKeyGrid;

class FilterPanel : public QFrame {
    Q_OBJECT
public:
    explicit FilterPanel(organise::SharedSearchState& state, QWidget* parent = nullptr);

    // The user's tags in their order; selected ones that no longer exist leave the filter set.
    void setTags(const std::vector<organise::SampleTag>& tags);
    void setKeySpelling(music::KeySpelling spelling);
    // Says that files without a tempo or key of their own are filtered by the ones heard from
    // their audio.
    void setUsesAnalysedValues(bool uses);
    // The search text, which decides whether the shuffle can be used.
    void setQuery(const QString& query);
    // How many results pass; none while nothing is listed.
    void setResultCount(std::optional<std::size_t> count);
    bool searchesAllCollections() const;
    // Fresh shuffle seeds (the system's random source unless a test gives its own).
    void setSeedSource(std::function<std::uint64_t()> source) { m_seeds = std::move(source); }

    // Controls, for tests.
    QAbstractButton* modeButton(organise::FilterMode mode) const;
    QLineEdit* minField() const { return m_min; }
    QLineEdit* maxField() const { return m_max; }
    PianoKeyGrid* keyGrid() const { return m_grid; }
    QAbstractButton* qualityButton(bool minor) const;
    QToolButton* relativeButton() const { return m_relative; }
    QToolButton* shuffleButton() const { return m_shuffle; }
    void reshuffle();
    QLabel* summaryLabel() const { return m_summary; }
    QLabel* countLabel() const { return m_count; }
    QCheckBox* allCollectionsBox() const { return m_all; }
    std::vector<QToolButton*> tagButtons() const { return m_tagButtons; }
    QAbstractButton* clearTagsButton() const;

signals:
    // The choice of searched collections changed.
    void scopeChanged();

protected:
    void changeEvent(QEvent* event) override;

private:
    void bpmEdited(
        QLineEdit* field, QString& text, std::optional<std::int64_t> organise::SearchFilters::*bound);
    void showFilters();
    void rebuildTagButtons();

    organise::SharedSearchState& m_state;
    std::vector<organise::SampleTag> m_tags;
    music::KeySpelling m_spelling = music::KeySpelling::automatic;
    QString m_query;
    std::function<std::uint64_t()> m_seeds;
    // The fields' texts as typed, beside the numbers in the filter set.
    QString m_minText;
    QString m_maxText;

    QToolButton* m_files = nullptr;
    QToolButton* m_folder = nullptr;
    QLineEdit* m_min = nullptr;
    QLineEdit* m_max = nullptr;
    PianoKeyGrid* m_grid = nullptr;
    QToolButton* m_major = nullptr;
    QToolButton* m_minor = nullptr;
    QToolButton* m_relative = nullptr;
    QLabel* m_summary = nullptr;
    QLabel* m_analysedNote = nullptr;
    QToolButton* m_shuffle = nullptr;
    QCheckBox* m_all = nullptr;
    QLabel* m_count = nullptr;
    QWidget* m_tagRow = nullptr;
    QHBoxLayout* m_tagBox = nullptr;
    QLabel* m_noTags = nullptr;
    QToolButton* m_clearTags = nullptr;
    std::vector<QToolButton*> m_tagButtons;
};

} // namespace kivo::app
