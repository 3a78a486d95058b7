#include "app/SyncStatusBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace kivo::app {

SyncStatusBar::SyncStatusBar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("syncStatus"));
    // It lies over the list: opaque, so rows do not show through.
    setAutoFillBackground(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(10, 4, 10, 4);
    m_text = new QLabel(this);
    m_bar = new QProgressBar(this);
    m_bar->setTextVisible(false);
    m_bar->setFixedHeight(8);
    m_bar->setRange(0, 1000);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setFocusPolicy(Qt::NoFocus);
    row->addWidget(m_text);
    row->addWidget(m_bar, 1);
    row->addWidget(m_cancel);
    connect(m_cancel, &QPushButton::clicked, this, &SyncStatusBar::cancelRequested);
}

void SyncStatusBar::setStatus(const QString& text, double fraction, bool canCancel)
{
    m_text->setText(text);
    if (fraction < 0 || std::isnan(fraction)) {
        m_bar->setRange(0, 0);
    } else {
        m_bar->setRange(0, 1000);
        m_bar->setValue(int(std::lround(std::clamp(fraction, 0.0, 1.0) * 1000)));
    }
    m_cancel->setEnabled(canCancel);
}

QString SyncStatusBar::text() const
{
    return m_text->text();
}

bool SyncStatusBar::canCancel() const
{
    return m_cancel->isEnabled();
}

} // namespace kivo::app
