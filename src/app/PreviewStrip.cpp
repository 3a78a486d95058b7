#include "app/PreviewStrip.h"

#include "app/ProjectSyncControl.h"
#include "app/SeekBar.h"
#include "app/StereoLevelMeter.h"
#include "app/VolumeKnob.h"

#include <QGridLayout>
#include <QLabel>

#include <cmath>

namespace kivo::app {

QString formatPlaybackTime(double seconds)
{
    if (!(seconds >= 0) || std::isinf(seconds))
        return {};
    const auto tenths = qint64(std::floor(seconds * 10));
    const qint64 minutes = tenths / 600;
    const double rest = double(tenths % 600) / 10;
    return QStringLiteral("%1:%2").arg(minutes).arg(rest, 4, 'f', 1, QLatin1Char('0'));
}

PreviewStrip::PreviewStrip(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("previewStrip"));
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(10, 6, 10, 8);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(4);

    m_name = new QLabel(this);
    m_name->setTextInteractionFlags(Qt::NoTextInteraction);
    QFont bold = m_name->font();
    bold.setBold(true);
    m_name->setFont(bold);
    m_name->setMinimumWidth(80);
    m_name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_time = new QLabel(this);
    m_time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont mono = m_time->font();
    mono.setFamily(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    m_time->setFont(mono);
    m_seek = new SeekBar(this);
    m_knob = new VolumeKnob(this);
    m_meter = new StereoLevelMeter(this);
    m_meter->setFixedWidth(100);
    m_project = new ProjectSyncControl(this);

    m_notice = new QLabel(this);
    m_notice->setObjectName(QStringLiteral("outputNotice"));
    m_notice->setWordWrap(true);
    m_notice->setStyleSheet(QStringLiteral("color: #c0392b;"));
    m_notice->hide();

    grid->addWidget(m_name, 0, 0);
    grid->addWidget(m_time, 0, 1);
    grid->addWidget(m_seek, 1, 0, 1, 2);
    grid->addWidget(m_notice, 2, 0, 1, 2);
    grid->addWidget(m_project, 0, 2, 2, 1, Qt::AlignVCenter);
    grid->addWidget(m_meter, 0, 3, 2, 1, Qt::AlignVCenter);
    grid->addWidget(m_knob, 0, 4, 2, 1, Qt::AlignVCenter);
    grid->setColumnStretch(0, 1);

    connect(m_seek, &SeekBar::seekRequested, this, &PreviewStrip::seekRequested);
    connect(m_knob, &VolumeKnob::positionEdited, this, &PreviewStrip::volumeEdited);
    setFile({});
}

void PreviewStrip::setFile(const QString& name)
{
    m_hasFile = !name.isEmpty();
    m_name->setText(m_hasFile ? name : tr("No sample selected"));
    m_name->setEnabled(m_hasFile);
    m_seek->setActive(m_hasFile);
    if (!m_hasFile) {
        m_seek->setProgress(0);
        m_time->clear();
    }
}

void PreviewStrip::setProgress(double position, double duration)
{
    if (!m_hasFile)
        return;
    m_seek->setProgress(duration > 0 ? position / duration : 0);
    const QString total = duration > 0 ? formatPlaybackTime(duration) : QString();
    m_time->setText(total.isEmpty() ? formatPlaybackTime(position)
                                    : formatPlaybackTime(position) + QStringLiteral(" / ") + total);
}

void PreviewStrip::setLevels(double left, double right)
{
    m_meter->setLevels(left, right);
}

void PreviewStrip::setVolume(double position)
{
    m_knob->setPosition(position);
}

void PreviewStrip::setThemeColor(const QColor& color)
{
    m_seek->setThemeColor(color);
    m_knob->setThemeColor(color);
    m_meter->setThemeColor(color);
}

void PreviewStrip::setNotice(const QString& text)
{
    m_notice->setText(text);
    m_notice->setToolTip(text);
    m_notice->setVisible(!text.isEmpty());
}

QString PreviewStrip::noticeText() const
{
    return m_notice->text();
}

QString PreviewStrip::nameText() const
{
    return m_name->text();
}

QString PreviewStrip::timeText() const
{
    return m_time->text();
}

} // namespace kivo::app
