#pragma once

// The project tempo and key in the preview strip: typed, or taken from the tap tempo and from the
// chord bank's key, with the "Sync" and "Key" toggles that make previews follow them.

#include "playback/ProjectSync.h"

#include <QWidget>

#include <optional>

class QLineEdit;
class QToolButton;

namespace kivo::app {

class ProjectSyncControl : public QWidget {
    Q_OBJECT
public:
    explicit ProjectSyncControl(QWidget* parent = nullptr);

    void setProject(const playback::ProjectSync& project);
    const playback::ProjectSync& project() const { return m_project; }
    // What the "Tap" and "Chords" buttons take; none leaves the tap button dimmed.
    void setTapTempo(std::optional<int> bpm);
    void setChordKey(const music::MusicalKey& key);

    QLineEdit* tempoField() const { return m_tempo; }
    QLineEdit* keyField() const { return m_key; }
    QToolButton* tapButton() const { return m_takeTap; }
    QToolButton* chordButton() const { return m_takeChord; }
    QToolButton* syncButton() const { return m_sync; }
    QToolButton* keyButton() const { return m_keySync; }

signals:
    void projectEdited(const playback::ProjectSync& project);

private:
    void tempoTyped();
    void keyTyped();
    void edit(playback::ProjectSync next);
    void show();

    playback::ProjectSync m_project;
    std::optional<int> m_tapTempo;
    music::MusicalKey m_chordKey;
    QLineEdit* m_tempo = nullptr;
    QLineEdit* m_key = nullptr;
    QToolButton* m_takeTap = nullptr;
    QToolButton* m_takeChord = nullptr;
    QToolButton* m_sync = nullptr;
    QToolButton* m_keySync = nullptr;
};

// "120" or "120.5" for a tempo; empty for none.
QString projectTempoText(std::optional<double> bpm);

} // namespace kivo::app
