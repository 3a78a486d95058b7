#pragma once

// The sync pop-up as a strip under the collection bar: what the sync is doing, how far it has
// got, and its Cancel button. It stays out of the way of browsing: the index being rebuilt still
// answers from its previous state.

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kivo::app {

class SyncStatusBar : public QWidget {
    Q_OBJECT
public:
    explicit SyncStatusBar(QWidget* parent = nullptr);

    // fraction < 0 shows a busy bar.
    void setStatus(const QString& text, double fraction, bool canCancel);
    QString text() const;
    bool canCancel() const;

signals:
    void cancelRequested();

private:
    QLabel* m_text = nullptr;
    QProgressBar* m_bar = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace kivo::app
