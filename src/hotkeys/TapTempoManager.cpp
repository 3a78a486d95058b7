#include "hotkeys/TapTempoManager.h"

#include "hotkeys/TapTempo.h"

#include <QPointer>

namespace kivo::hotkeys {

TapTempoManager::TapTempoManager(platform::Clock& clock, QObject* parent)
    : QObject(parent)
    , m_clock(clock)
{
}

TapTempoManager::~TapTempoManager()
{
    if (m_sessionEndTimer)
        m_sessionEndTimer->cancel();
    if (m_revertTimer)
        m_revertTimer->cancel();
}

void TapTempoManager::tap()
{
    if (m_sessionEndTimer)
        m_sessionEndTimer->cancel();
    if (m_revertTimer)
        m_revertTimer->cancel();
    // Intervals come from the clock that never jumps, so a clock change mid-session cannot
    // produce a wild tempo.
    m_tapTimestamps.push_back(m_clock.monotonic());
    setSessionActive(true);
    ++m_tapCount;
    emit tapCountChanged();
    if (const auto bpm = tapTempo(m_tapTimestamps))
        setDisplayBPM(roundedBPM(*bpm));

    QPointer<TapTempoManager> self(this);
    m_sessionEndTimer = m_clock.after(kSessionEnd, [self] {
        if (!self)
            return;
        self->m_tapTimestamps.clear();
        self->setSessionActive(false);
    });
    m_revertTimer = m_clock.after(kRevert, [self] {
        if (self)
            self->setDisplayBPM(std::nullopt);
    });
}

void TapTempoManager::setDisplayBPM(std::optional<int> bpm)
{
    if (bpm == m_displayBPM)
        return;
    m_displayBPM = bpm;
    emit displayBPMChanged();
}

void TapTempoManager::setSessionActive(bool on)
{
    if (on == m_isSessionActive)
        return;
    m_isSessionActive = on;
    emit isSessionActiveChanged();
}

} // namespace kivo::hotkeys
