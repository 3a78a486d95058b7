#include "OutputPreferences.h"

#include "platform/PreferenceStore.h"

#include <algorithm>

namespace kivo::playback {

namespace {
QString key(const char* name)
{
    return QString::fromLatin1(name);
}
} // namespace

OutputChoice loadOutputChoice(const platform::PreferenceStore& store)
{
    OutputChoice choice;
    choice.hostApi = store.stringValue(key(kOutputHostAPIKey)).value_or(QString()).toStdString();
    choice.device = store.stringValue(key(kOutputDeviceKey)).value_or(QString()).toStdString();
    const qint64 frames
        = store.intValue(key(kOutputBufferFramesKey)).value_or(OutputChoice::kDefaultBufferFrames);
    choice.bufferFrames = int(std::clamp<qint64>(frames, 0, 1 << 20));
    const qint64 rate = store.intValue(key(kOutputSampleRateKey)).value_or(0);
    choice.sampleRate = int(std::clamp<qint64>(rate, 0, 1 << 20));
    return choice.normalised();
}

void storeOutputChoice(platform::PreferenceStore& store, const OutputChoice& choice)
{
    const OutputChoice value = choice.normalised();
    store.setValue(key(kOutputHostAPIKey), QString::fromStdString(value.hostApi));
    store.setValue(key(kOutputDeviceKey), QString::fromStdString(value.device));
    store.setValue(key(kOutputBufferFramesKey), qint64(value.bufferFrames));
    store.setValue(key(kOutputSampleRateKey), qint64(value.sampleRate));
}

} // namespace kivo::playback
