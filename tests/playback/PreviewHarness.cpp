#include "PreviewHarness.h"

#include "PlaybackTestSupport.h"

#include <cmath>

namespace kivo::test {

PreviewHarness::PreviewHarness(float storedVolume, playback::MIDIPreviewEngine* midi)
{
    makeManager(storedVolume, midi);
}

PreviewHarness::PreviewHarness(float storedVolume, WithAudition)
{
    m_audition = std::make_unique<playback::Audition>(m_engine, m_clock);
    m_audition->setResourceFolder([] { return std::nullopt; });
    m_audition->setLog([](const std::string&) {});
    m_auditionPreview = std::make_unique<playback::AuditionPreviewEngine>(*m_audition);
    makeManager(storedVolume, m_auditionPreview.get());
}

PreviewHarness::PreviewHarness(platform::TaskRunner& tasks, std::function<void(const std::string&)> willOpen)
{
    makeManager(1.0f, nullptr, &tasks, std::move(willOpen));
}

bool PreviewHarness::settle()
{
    return waitFor([this] { return !m_manager->isOpening(); });
}

void PreviewHarness::makeManager(float storedVolume, playback::MIDIPreviewEngine* midi,
    platform::TaskRunner* tasks, std::function<void(const std::string&)> willOpen)
{
    m_engine.useOfflineRendering(kRate);
    m_engine.start();
    playback::AudioPlayerManager::Options options;
    options.engine = &m_engine;
    options.clock = &m_clock;
    options.tracker = &m_tracker;
    options.midiEngine = midi;
    options.tasks = tasks;
    options.willOpen = std::move(willOpen);
    options.volume = storedVolume;
    options.storeVolume = [this](float v) { m_stored.push_back(v); };
    m_manager = std::make_unique<playback::AudioPlayerManager>(std::move(options));
}

std::vector<float> PreviewHarness::run(double seconds)
{
    const int steps = int(std::lround(seconds / 0.02));
    std::vector<float> out;
    for (int i = 0; i < steps; ++i) {
        auto part = m_engine.render(kRate / 50);
        out.insert(out.end(), part.begin(), part.end());
        m_clock.advance(0.02);
    }
    return out;
}

QUrl PreviewHarness::makeTone(const std::string& name, const std::string& soxEffect, int channels)
{
    return QUrl::fromLocalFile(QString::fromStdString(m_dir.tone(name, soxEffect, kRate, channels)));
}

} // namespace kivo::test
