#pragma once

// Tap tempo: every tap (key T or the TAP button) joins the running session, the display shows
// the session's tempo from the second tap on; three seconds without a tap end the session and
// the display clears a second later. Timers run on the injectable clock. Main thread only.

#include "platform/Clock.h"

#include <QObject>

#include <memory>
#include <optional>
#include <vector>

namespace kivo::hotkeys {

class TapTempoManager : public QObject {
    Q_OBJECT
    // -1 while nothing is shown.
    Q_PROPERTY(int displayBPM READ displayBPMOrNone NOTIFY displayBPMChanged)
    Q_PROPERTY(bool isSessionActive READ isSessionActive NOTIFY isSessionActiveChanged)
    Q_PROPERTY(int tapCount READ tapCount NOTIFY tapCountChanged)
public:
    static constexpr double kSessionEnd = 3.0;
    static constexpr double kRevert = 4.0;

    explicit TapTempoManager(platform::Clock& clock = platform::Clock::system(), QObject* parent = nullptr);
    ~TapTempoManager() override;

    std::optional<int> displayBPM() const { return m_displayBPM; }
    int displayBPMOrNone() const { return m_displayBPM.value_or(-1); }
    bool isSessionActive() const { return m_isSessionActive; }
    int tapCount() const { return m_tapCount; }
    const std::vector<double>& tapTimestamps() const { return m_tapTimestamps; }

    void tap();

signals:
    void displayBPMChanged();
    void isSessionActiveChanged();
    void tapCountChanged();

private:
    void setDisplayBPM(std::optional<int> bpm);
    void setSessionActive(bool on);

    platform::Clock& m_clock;
    std::optional<int> m_displayBPM;
    bool m_isSessionActive = false;
    int m_tapCount = 0;
    std::vector<double> m_tapTimestamps;
    std::shared_ptr<platform::Clock::Timer> m_sessionEndTimer;
    std::shared_ptr<platform::Clock::Timer> m_revertTimer;
};

} // namespace kivo::hotkeys
