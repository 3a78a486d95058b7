#pragma once

// The strip over the list while hide mode is on: which mode it is, how marks take effect, and the
// buttons that switch between marking and auditing and leave the mode.

#include <QWidget>

class QLabel;
class QPushButton;

namespace kivo::app {

class HideModeBar : public QWidget {
    Q_OBJECT
public:
    explicit HideModeBar(QWidget* parent = nullptr);

    // Shows the strip for the modes (hidden when neither is on).
    void setModes(bool hideMode, bool showOnlyHidden);
    QString text() const;

signals:
    void auditRequested(); // switches between marking and the hidden-items list
    void doneRequested(); // leaves hide mode

private:
    QLabel* m_text = nullptr;
    QPushButton* m_audit = nullptr;
    QPushButton* m_done = nullptr;
};

} // namespace kivo::app
