#include "app/HideModeBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

namespace kivo::app {

HideModeBar::HideModeBar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("hideModeBar"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    m_text = new QLabel(this);
    m_text->setWordWrap(true);
    m_audit = new QPushButton(this);
    m_audit->setFocusPolicy(Qt::NoFocus);
    m_done = new QPushButton(tr("Done"), this);
    m_done->setFocusPolicy(Qt::NoFocus);
    row->addWidget(m_text, 1);
    row->addWidget(m_audit);
    row->addWidget(m_done);
    connect(m_audit, &QPushButton::clicked, this, &HideModeBar::auditRequested);
    connect(m_done, &QPushButton::clicked, this, &HideModeBar::doneRequested);
    hide();
}

void HideModeBar::setModes(bool hideMode, bool showOnlyHidden)
{
    if (showOnlyHidden) {
        m_text->setText(tr("Hidden items of this collection. Click an eye to show the item again."));
        m_audit->setText(tr("Mark Items (Alt+H)"));
    } else {
        m_text->setText(
            tr("Hide mode: click an eye to hide a row, Alt-click (or Ctrl-click) a folder to skip it. "
               "Marks take effect when you press H."));
        m_audit->setText(tr("Audit Hidden (Alt+H)"));
    }
    m_done->setText(tr("Done (H)"));
    setVisible(hideMode || showOnlyHidden);
}

QString HideModeBar::text() const
{
    return m_text->text();
}

} // namespace kivo::app
