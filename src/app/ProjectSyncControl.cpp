#include "app/ProjectSyncControl.h"

#include <QGridLayout>
#include <QLineEdit>
#include <QLocale>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace kivo::app {

using playback::ProjectSync;

QString projectTempoText(std::optional<double> bpm)
{
    if (!bpm)
        return {};
    QString text = QString::number(std::round(*bpm * 100) / 100, 'f', 2);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text;
}

namespace {

QToolButton* makeButton(const QString& text, const QString& tip, bool checkable, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setToolTip(tip);
    button->setCheckable(checkable);
    button->setAutoRaise(!checkable);
    button->setFocusPolicy(Qt::ClickFocus);
    return button;
}

} // namespace

ProjectSyncControl::ProjectSyncControl(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("projectSync"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);

    m_tempo = new QLineEdit(this);
    m_tempo->setPlaceholderText(tr("BPM"));
    m_tempo->setToolTip(tr("Project tempo: loops play at it while Sync is on"));
    m_key = new QLineEdit(this);
    m_key->setPlaceholderText(tr("Key"));
    m_key->setToolTip(
        tr("Project key (Am, F# minor, 8A): tonal samples move to it or its relative while Key is on"));
    for (QLineEdit* field : { m_tempo, m_key }) {
        field->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("000.00")) + 14);
        field->setAlignment(Qt::AlignCenter);
    }
    m_takeTap = makeButton(tr("Tap"), tr("Use the tapped tempo"), false, this);
    m_takeChord = makeButton(tr("Chords"), tr("Use the chord bank's key"), false, this);
    m_sync = makeButton(tr("Sync"), tr("Play loops at the project tempo"), true, this);
    m_keySync = makeButton(tr("Key"), tr("Play tonal samples in the project key"), true, this);

    grid->addWidget(m_tempo, 0, 0);
    grid->addWidget(m_takeTap, 0, 1);
    grid->addWidget(m_sync, 0, 2);
    grid->addWidget(m_key, 1, 0);
    grid->addWidget(m_takeChord, 1, 1);
    grid->addWidget(m_keySync, 1, 2);
    // Both toggles as wide as the wider of them.
    const int toggleWidth = std::max(m_sync->sizeHint().width(), m_keySync->sizeHint().width());
    m_sync->setFixedWidth(toggleWidth);
    m_keySync->setFixedWidth(toggleWidth);

    connect(m_tempo, &QLineEdit::editingFinished, this, &ProjectSyncControl::tempoTyped);
    connect(m_key, &QLineEdit::editingFinished, this, &ProjectSyncControl::keyTyped);
    connect(m_takeTap, &QToolButton::clicked, this, [this] {
        if (!m_tapTempo)
            return;
        ProjectSync next = m_project;
        next.tempo = double(*m_tapTempo);
        edit(next);
    });
    connect(m_takeChord, &QToolButton::clicked, this, [this] {
        ProjectSync next = m_project;
        next.key = m_chordKey;
        edit(next);
    });
    connect(m_sync, &QToolButton::toggled, this, [this](bool on) {
        ProjectSync next = m_project;
        next.syncTempo = on;
        edit(next);
    });
    connect(m_keySync, &QToolButton::toggled, this, [this](bool on) {
        ProjectSync next = m_project;
        next.syncKey = on;
        edit(next);
    });
    setTapTempo(std::nullopt);
    show();
}

void ProjectSyncControl::setProject(const ProjectSync& project)
{
    m_project = project;
    show();
}

void ProjectSyncControl::setTapTempo(std::optional<int> bpm)
{
    m_tapTempo = bpm;
    m_takeTap->setEnabled(bpm.has_value());
    m_takeTap->setToolTip(bpm ? tr("Use the tapped tempo (%1 BPM)").arg(*bpm) : tr("Tap a tempo first (T)"));
}

void ProjectSyncControl::setChordKey(const music::MusicalKey& key)
{
    m_chordKey = key;
    m_takeChord->setToolTip(tr("Use the chord bank's key (%1)").arg(QString::fromStdString(key.keyText())));
}

void ProjectSyncControl::tempoTyped()
{
    const QString text = m_tempo->text().trimmed();
    ProjectSync next = m_project;
    if (text.isEmpty()) {
        next.tempo.reset();
    } else {
        bool ok = false;
        const double bpm = QLocale::c().toDouble(text, &ok);
        if (ok && bpm >= ProjectSync::kMinTempo && bpm <= ProjectSync::kMaxTempo)
            next.tempo = std::round(bpm * 100) / 100;
    }
    edit(next);
    show(); // a tempo out of range goes back to the one before
}

void ProjectSyncControl::keyTyped()
{
    const QString text = m_key->text().trimmed();
    ProjectSync next = m_project;
    if (text.isEmpty())
        next.key.reset();
    else if (auto key = music::MusicalKey::parse(text.toStdString()))
        next.key = key;
    edit(next);
    show();
}

void ProjectSyncControl::edit(ProjectSync next)
{
    // A toggle without its value would promise what it cannot do.
    if (!next.tempo)
        next.syncTempo = false;
    if (!next.key)
        next.syncKey = false;
    if (next == m_project) {
        show();
        return;
    }
    m_project = next;
    show();
    emit projectEdited(m_project);
}

void ProjectSyncControl::show()
{
    m_tempo->setText(projectTempoText(m_project.tempo));
    m_key->setText(m_project.key ? QString::fromStdString(m_project.key->keyText()) : QString());
    const QSignalBlocker blockSync(m_sync);
    const QSignalBlocker blockKey(m_keySync);
    m_sync->setChecked(m_project.syncTempo);
    m_sync->setEnabled(m_project.tempo.has_value());
    m_keySync->setChecked(m_project.syncKey);
    m_keySync->setEnabled(m_project.key.has_value());
}

} // namespace kivo::app
