#include "AuditionPreviewEngine.h"

#include "AudioEngine.h"
#include "Audition.h"
#include "MIDISamplePlayer.h"

#include <cmath>

namespace kivo::playback {

namespace {

class SamplePlayerPreview : public MIDIPreviewPlayer {
public:
    explicit SamplePlayerPreview(std::unique_ptr<MIDISamplePlayer> player)
        : m_player(std::move(player))
    {
    }

    double duration() const override { return m_player->duration(); }
    bool isPlaying() const override { return m_player->isPlaying(); }
    double rate() const override { return m_player->rate(); }
    void setRate(double rate) override { m_player->setRate(rate); }
    std::optional<double> anchor() const override { return m_player->anchor(); }
    void setAnchor(std::optional<double> anchor) override { m_player->setAnchor(anchor); }
    double pausedPosition() const override { return m_player->pausedPosition(); }
    void setPausedPosition(double seconds) override { m_player->setPausedPosition(seconds); }
    void setCatchNotes(bool on) override { m_player->setCatchNotes(on); }
    void setOctaveShift(int octaves) override { m_player->setOctaveShift(octaves); }
    void play() override { m_player->play(); }
    void pause() override { m_player->pause(); }
    void cancelScheduledEvents() override { m_player->cancelScheduledEvents(); }
    void schedule(double from) override { m_player->schedule(from); }

private:
    std::unique_ptr<MIDISamplePlayer> m_player;
};

} // namespace

AuditionPreviewEngine::AuditionPreviewEngine(Audition& audition)
    : m_audition(audition)
{
}

std::shared_ptr<MIDIPreviewPlayer> AuditionPreviewEngine::makePlayer(
    std::span<const uint8_t> bytes, const std::string& fileName, int instrumentIndex)
{
    auto player
        = MIDISamplePlayer::fromBytes(m_audition, bytes, fileName, MIDIInstrument::forIndex(instrumentIndex));
    if (!player)
        return nullptr;
    return std::make_shared<SamplePlayerPreview>(std::move(player));
}

std::optional<std::string> AuditionPreviewEngine::ensureRunning()
{
    return m_audition.ensureRunning();
}

void AuditionPreviewEngine::loadInstrument(int instrumentIndex)
{
    m_audition.loadInstrument(MIDIInstrument::forIndex(instrumentIndex));
}

void AuditionPreviewEngine::setOutputVolume(float gain)
{
    m_audition.engine().setOutputVolume(gain);
}

void AuditionPreviewEngine::setGlobalTuning(float cents)
{
    m_audition.sampler().setGlobalTuning(cents);
}

void AuditionPreviewEngine::scheduleIdleStop()
{
    m_audition.scheduleIdleStop();
}

void AuditionPreviewEngine::setKeepWarm(bool on)
{
    m_audition.setKeepWarm(on);
}

double AuditionPreviewEngine::now() const
{
    return m_audition.now();
}

} // namespace kivo::playback
