#pragma once

// The output device as the window sees it: the remembered choice (applied to the engine at start
// and whenever it changes), the devices PortAudio lists, listed in the background because listing
// can block, and what the output is doing now. Main thread only. It holds the engine's output, not
// the engine: a listing or a report still on its way when the engine goes finds it shut down.

#include "platform/CancelHandle.h"
#include "playback/OutputDevice.h"

#include <QObject>

#include <memory>
#include <optional>
#include <vector>

namespace kivo::platform {
class PreferenceStore;
class TaskRunner;
} // namespace kivo::platform
namespace kivo::playback {
class AudioEngine;
class AudioOutput;
} // namespace kivo::playback

namespace kivo::app {

class OutputDevices : public QObject {
    Q_OBJECT
public:
    OutputDevices(platform::TaskRunner& tasks, platform::PreferenceStore& store,
        playback::AudioEngine& engine, QObject* parent = nullptr);
    ~OutputDevices() override;

    const playback::OutputChoice& choice() const { return m_choice; }
    // Stores the choice and moves the engine to it (at once while it runs).
    void choose(const playback::OutputChoice& choice);

    // Lists the devices afresh; devicesListed() follows on the main thread.
    void refresh();
    bool isListing() const { return m_listing.has_value(); }
    // The last list; none before the first one arrives.
    const std::optional<std::vector<playback::OutputDevice>>& devices() const { return m_devices; }

    const playback::OutputStatus& status() const { return m_status; }

signals:
    void choiceChanged();
    void devicesListed();
    void statusChanged();
    // The engine renders at another rate now: players made for the old one must be made again.
    void rateChanged();

private:
    void statusArrived();

    platform::TaskRunner& m_tasks;
    platform::PreferenceStore& m_store;
    std::shared_ptr<playback::AudioOutput> m_output; // none for an engine rendering offline
    playback::OutputChoice m_choice;
    std::optional<std::vector<playback::OutputDevice>> m_devices;
    std::optional<platform::CancelHandle> m_listing;
    playback::OutputStatus m_status;
    int m_rate = 0;
};

} // namespace kivo::app
