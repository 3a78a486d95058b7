#include "app/TapTempoButton.h"

#include "hotkeys/TapTempoManager.h"

#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QVariantAnimation>

namespace kivo::app {

namespace {
const QString kTapText = QStringLiteral("TAP");
}

TapTempoButton::TapTempoButton(hotkeys::TapTempoManager& manager, QWidget* parent)
    : QPushButton(parent)
    , m_manager(manager)
{
    setObjectName(QStringLiteral("tapTempoButton"));
    setFixedSize(kWidth, kHeight);
    setToolTip(tr("Tap tempo"));
    setAccessibleName(tr("Tap tempo"));
    setFocusPolicy(Qt::NoFocus);
    m_shownBefore = kTapText;

    m_flash = new QVariantAnimation(this);
    m_flash->setDuration(kAnimationMs);
    m_flash->setEasingCurve(QEasingCurve::OutCubic);
    m_flash->setStartValue(0.5);
    m_flash->setEndValue(0.0);
    connect(m_flash, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_flashOpacity = v.toDouble();
        update();
    });
    m_change = new QVariantAnimation(this);
    m_change->setDuration(kAnimationMs);
    m_change->setEasingCurve(QEasingCurve::InOutCubic);
    m_change->setStartValue(0.0);
    m_change->setEndValue(1.0);
    connect(m_change, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        m_textBlend = v.toDouble();
        update();
    });

    connect(this, &QPushButton::clicked, this, [this] { m_manager.tap(); });
    connect(&m_manager, &hotkeys::TapTempoManager::tapCountChanged, this, &TapTempoButton::tapped);
    connect(&m_manager, &hotkeys::TapTempoManager::displayBPMChanged, this, &TapTempoButton::displayChanged);
}

QString TapTempoButton::shownText() const
{
    const auto bpm = m_manager.displayBPM();
    return bpm ? QString::number(*bpm) : kTapText;
}

void TapTempoButton::tapped()
{
    m_flash->stop();
    m_flashOpacity = 0.5;
    m_flash->start();
    update();
}

void TapTempoButton::displayChanged()
{
    if (const auto bpm = m_manager.displayBPM())
        m_lastBPMText = QString::number(*bpm);
    const QString now = shownText();
    // Only the change between "TAP" and a number fades; a running tempo just updates.
    if ((m_shownBefore == kTapText) != (now == kTapText)) {
        m_previousText = m_shownBefore;
        m_textBlend = 0;
        m_change->stop();
        m_change->start();
    }
    m_shownBefore = now;
    update();
}

void TapTempoButton::paintEvent(QPaintEvent*)
{
    QStylePainter p(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    p.drawControl(QStyle::CE_PushButton, option);
    p.setRenderHint(QPainter::Antialiasing);
    if (m_flashOpacity > 0) {
        QColor flash = palette().color(QPalette::Highlight);
        flash.setAlphaF(float(m_flashOpacity));
        p.setPen(Qt::NoPen);
        p.setBrush(flash);
        p.drawRoundedRect(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), 4, 4);
    }
    QFont f = font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 0.9);
    p.setFont(f);
    p.setPen(palette().color(QPalette::ButtonText));
    const QString current = shownText();
    if (m_textBlend < 1.0) {
        p.setOpacity(1.0 - m_textBlend);
        p.drawText(rect(), Qt::AlignCenter, m_previousText);
        p.setOpacity(m_textBlend);
    }
    p.drawText(rect(), Qt::AlignCenter, current);
}

} // namespace kivo::app
