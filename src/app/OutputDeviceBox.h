#pragma once

// The settings window's output group: the device (PortAudio's, grouped by host API), the buffer
// size and the sample rate, and a line saying where the sound goes now. The device list arrives
// from the background; until then the remembered choice is shown alone.

#include <QGroupBox>

class QComboBox;
class QLabel;
class QStandardItemModel;

namespace kivo::app {

class OutputDevices;

class OutputDeviceBox : public QGroupBox {
    Q_OBJECT
public:
    explicit OutputDeviceBox(OutputDevices& output, QWidget* parent = nullptr);

    QComboBox* deviceBox() const { return m_device; }
    QComboBox* bufferBox() const { return m_buffer; }
    QComboBox* rateBox() const { return m_rate; }
    QString statusText() const;

private:
    void showDevices();
    void showChoice();
    void showStatus();
    void choose();

    OutputDevices& m_output;
    QStandardItemModel* m_devices = nullptr;
    QComboBox* m_device = nullptr;
    QComboBox* m_buffer = nullptr;
    QComboBox* m_rate = nullptr;
    QLabel* m_status = nullptr;
};

} // namespace kivo::app
