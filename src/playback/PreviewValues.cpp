#include "PreviewValues.h"

#include <cmath>

namespace kivo::playback {

void CurrentFile::setUrl(const QUrl& url)
{
    if (url == m_url)
        return;
    m_url = url;
    emit urlChanged();
}

void PlaybackProgress::setProgress(double progress)
{
    if (progress == m_progress)
        return;
    m_progress = progress;
    emit progressChanged();
}

void StereoLevels::setLeft(float level)
{
    if (level == m_left)
        return;
    m_left = level;
    emit leftChanged();
}

void StereoLevels::setRight(float level)
{
    if (level == m_right)
        return;
    m_right = level;
    emit rightChanged();
}

void VolumeControl::setPosition(float position)
{
    if (!std::isfinite(position) || position == m_position)
        return;
    m_position = position;
    emit positionChanged();
}

} // namespace kivo::playback
