#include "app/OutputDevices.h"

#include "platform/MainThread.h"
#include "platform/TaskRunner.h"
#include "playback/AudioEngine.h"
#include "playback/OutputPreferences.h"

#include <QPointer>

namespace kivo::app {

OutputDevices::OutputDevices(platform::TaskRunner& tasks, platform::PreferenceStore& store,
    playback::AudioEngine& engine, QObject* parent)
    : QObject(parent)
    , m_tasks(tasks)
    , m_store(store)
    , m_engine(engine)
    , m_choice(playback::loadOutputChoice(store))
    , m_rate(engine.sampleRate())
{
    QPointer<OutputDevices> self(this);
    m_engine.setOutputObserver([post = m_tasks.poster(), self] {
        post([self] {
            if (self)
                self->statusArrived();
        });
    });
    m_engine.setOutputChoice(m_choice);
}

OutputDevices::~OutputDevices()
{
    m_engine.setOutputObserver({});
    if (m_listing)
        m_listing->cancel();
}

void OutputDevices::choose(const playback::OutputChoice& choice)
{
    KIVO_MAIN_THREAD();
    const playback::OutputChoice value = choice.normalised();
    if (value == m_choice)
        return;
    m_choice = value;
    playback::storeOutputChoice(m_store, m_choice);
    m_engine.setOutputChoice(m_choice);
    emit choiceChanged();
}

void OutputDevices::refresh()
{
    KIVO_MAIN_THREAD();
    if (m_listing)
        return;
    playback::AudioEngine* engine = &m_engine;
    m_listing = m_tasks.run(
        this, [engine] { return engine->listOutputDevices(); },
        [this](std::vector<playback::OutputDevice> devices) {
            m_listing.reset();
            m_devices = std::move(devices);
            emit devicesListed();
        });
}

void OutputDevices::statusArrived()
{
    m_status = m_engine.outputStatus();
    emit statusChanged();
    if (m_engine.sampleRate() != m_rate) {
        m_rate = m_engine.sampleRate();
        emit rateChanged();
    }
}

} // namespace kivo::app
