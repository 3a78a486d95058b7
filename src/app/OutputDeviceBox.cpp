#include "app/OutputDeviceBox.h"

#include "app/OutputDevices.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QStandardItemModel>

#include <algorithm>

namespace kivo::app {

namespace {

constexpr int kHostRole = Qt::UserRole;
constexpr int kDeviceRole = Qt::UserRole + 1;

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

// PortAudio's host names as a producer knows them.
QString hostLabel(const std::string& host)
{
    if (host.rfind("JACK", 0) == 0)
        return QStringLiteral("JACK");
    return qs(host);
}

// ALSA's plugin devices that lead to a sound server say which.
QString deviceLabel(const playback::OutputDevice& device)
{
    const QString name = qs(device.name);
    if (device.hostApi == "ALSA") {
        if (name == QLatin1String("pulse"))
            return QObject::tr("PulseAudio (pulse)");
        if (name == QLatin1String("pipewire"))
            return QObject::tr("PipeWire (pipewire)");
        if (name == QLatin1String("jack"))
            return QObject::tr("JACK through ALSA (jack)");
        if (name == QLatin1String("default"))
            return QObject::tr("ALSA default (default)");
    }
    return name;
}

QStandardItem* deviceItem(const QString& text, const std::string& host, const std::string& device)
{
    auto* item = new QStandardItem(text);
    item->setData(qs(host), kHostRole);
    item->setData(qs(device), kDeviceRole);
    return item;
}

} // namespace

OutputDeviceBox::OutputDeviceBox(OutputDevices& output, QWidget* parent)
    : QGroupBox(tr("Output"), parent)
    , m_output(output)
{
    setObjectName(QStringLiteral("outputGroup"));
    m_devices = new QStandardItemModel(this);
    m_device = new QComboBox(this);
    m_device->setObjectName(QStringLiteral("outputDevice"));
    m_device->setModel(m_devices);
    m_device->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_device->setMinimumContentsLength(22);

    m_buffer = new QComboBox(this);
    m_buffer->setObjectName(QStringLiteral("outputBufferFrames"));
    for (int frames : playback::OutputChoice::kBufferSizes)
        m_buffer->addItem(tr("%1 frames").arg(frames), frames);

    m_rate = new QComboBox(this);
    m_rate->setObjectName(QStringLiteral("outputSampleRate"));
    for (int rate : playback::OutputChoice::kSampleRates)
        m_rate->addItem(rate == 0 ? tr("The device's own") : tr("%1 Hz").arg(rate), rate);

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("outputStatus"));
    m_status->setWordWrap(true);
    QFont small = m_status->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    m_status->setFont(small);

    auto* form = new QFormLayout(this);
    form->addRow(tr("Output device"), m_device);
    form->addRow(tr("Buffer size"), m_buffer);
    form->addRow(tr("Sample rate"), m_rate);
    form->addRow(m_status);

    for (QComboBox* box : { m_device, m_buffer, m_rate })
        connect(box, &QComboBox::activated, this, &OutputDeviceBox::choose);
    connect(&m_output, &OutputDevices::devicesListed, this, &OutputDeviceBox::showDevices);
    connect(&m_output, &OutputDevices::choiceChanged, this, &OutputDeviceBox::showChoice);
    connect(&m_output, &OutputDevices::statusChanged, this, &OutputDeviceBox::showStatus);
    showDevices();
    showStatus();
    m_output.refresh();
}

QString OutputDeviceBox::statusText() const
{
    return m_status->text();
}

void OutputDeviceBox::showDevices()
{
    const QSignalBlocker quiet(m_device);
    m_devices->clear();
    m_devices->appendRow(deviceItem(tr("System default"), {}, {}));
    std::string host;
    if (const auto& devices = m_output.devices(); devices && devices->empty()) {
        auto* none = new QStandardItem(tr("No other output devices found"));
        none->setFlags(Qt::NoItemFlags);
        m_devices->appendRow(none);
    } else if (devices) {
        for (const playback::OutputDevice& device : *devices) {
            if (device.hostApi != host) {
                host = device.hostApi;
                // A heading, not a choice.
                auto* heading = new QStandardItem(hostLabel(host));
                heading->setFlags(Qt::NoItemFlags);
                QFont bold = heading->font();
                bold.setBold(true);
                heading->setFont(bold);
                m_devices->appendRow(heading);
            }
            m_devices->appendRow(deviceItem(deviceLabel(device), device.hostApi, device.name));
        }
    } else {
        auto* waiting = new QStandardItem(tr("Looking for devices…"));
        waiting->setFlags(Qt::NoItemFlags);
        m_devices->appendRow(waiting);
    }
    showChoice();
}

void OutputDeviceBox::showChoice()
{
    const playback::OutputChoice& choice = m_output.choice();
    {
        const QSignalBlocker quiet(m_device);
        int row = -1;
        for (int i = 0; i < m_devices->rowCount() && row < 0; ++i) {
            const QStandardItem* item = m_devices->item(i);
            if (item->data(kDeviceRole).isValid() && item->data(kHostRole).toString() == qs(choice.hostApi)
                && item->data(kDeviceRole).toString() == qs(choice.device))
                row = i;
        }
        if (row < 0) {
            // Remembered but not present now (or not listed yet): still shown as the choice.
            const QString note = m_output.devices() ? tr("%1 (not available)") : QStringLiteral("%1");
            m_devices->appendRow(deviceItem(note.arg(qs(choice.device)), choice.hostApi, choice.device));
            row = m_devices->rowCount() - 1;
        }
        m_device->setCurrentIndex(row);
    }
    const QSignalBlocker quietBuffer(m_buffer);
    m_buffer->setCurrentIndex(m_buffer->findData(choice.bufferFrames));
    const QSignalBlocker quietRate(m_rate);
    m_rate->setCurrentIndex(m_rate->findData(choice.sampleRate));
}

void OutputDeviceBox::showStatus()
{
    const playback::OutputStatus& status = m_output.status();
    QString text;
    if (!status.message.empty())
        text = qs(status.message);
    else if (status.device)
        text = tr("Playing through %1 at %2 Hz, %3 frames (%4 ms)")
                   .arg(deviceLabel({ status.hostApi, status.name, 2, 0, false }))
                   .arg(status.rate)
                   .arg(status.bufferFrames)
                   .arg(1000.0 * status.bufferFrames / std::max(status.rate, 1), 0, 'f', 1);
    else if (status.rate > 0)
        text = tr("No output device: previews keep time silently");
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

void OutputDeviceBox::choose()
{
    playback::OutputChoice choice;
    const QModelIndex row = m_devices->index(m_device->currentIndex(), 0);
    choice.hostApi = row.data(kHostRole).toString().toStdString();
    choice.device = row.data(kDeviceRole).toString().toStdString();
    choice.bufferFrames = m_buffer->currentData().toInt();
    choice.sampleRate = m_rate->currentData().toInt();
    m_output.choose(choice);
}

} // namespace kivo::app
