#include "app/OutputDevices.h"

#include "platform/MainThread.h"
#include "platform/TaskRunner.h"
#include "playback/AudioEngine.h"
#include "playback/AudioOutput.h"
#include "playback/OutputPreferences.h"

#include <QPointer>

namespace kivo::app {

OutputDevices::OutputDevices(platform::TaskRunner& tasks, platform::PreferenceStore& store,
    playback::AudioEngine& engine, QObject* parent)
    : QObject(parent)
    , m_tasks(tasks)
    , m_store(store)
    , m_output(engine.output())
    , m_choice(playback::loadOutputChoice(store))
    , m_rate(engine.sampleRate())
{
    if (!m_output)
        return;
    QPointer<OutputDevices> self(this);
    m_output->setObserver([post = m_tasks.poster(), self] {
        post([self] {
            if (self)
                self->statusArrived();
        });
    });
    m_output->setChoice(m_choice);
}

OutputDevices::~OutputDevices()
{
    if (m_output)
        m_output->setObserver({});
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
    if (m_output)
        m_output->setChoice(m_choice);
    emit choiceChanged();
}

void OutputDevices::refresh()
{
    KIVO_MAIN_THREAD();
    if (m_listing)
        return;
    m_listing = m_tasks.run(
        this,
        [output = m_output] {
            return output ? output->listDevices() : std::vector<playback::OutputDevice> {};
        },
        [this](std::vector<playback::OutputDevice> devices) {
            m_listing.reset();
            m_devices = std::move(devices);
            emit devicesListed();
        });
}

void OutputDevices::statusArrived()
{
    m_status = m_output->status();
    emit statusChanged();
    if (m_output->rate() != m_rate) {
        m_rate = m_output->rate();
        emit rateChanged();
    }
}

} // namespace kivo::app
