#pragma once

// The folder panel of a relocation: asks for the new place of a missing root, says what fits while
// the user browses, and refuses a folder that neither is nor holds the root's name, or that holds
// no compatible file. The search for files runs off the main thread.

#include <QFileDialog>

#include <functional>

class QLabel;

namespace kivo::app {

class RelocationPanel : public QFileDialog {
    Q_OBJECT
public:
    // Runs `check` off the main thread and hands its answer to `done` on it.
    using BackgroundCheck = std::function<void(std::function<bool()> check, std::function<void(bool)> done)>;

    RelocationPanel(
        const QString& missingRoot, qsizetype candidates, BackgroundCheck runCheck, QWidget* parent);

    QString message() const;

signals:
    // The folder that replaces the missing root (the chosen one, or its sub-folder of that name).
    void relocationChosen(const QString& folder);

public slots:
    void accept() override;

private:
    void showMessage(const QString& text, bool refusal);
    void browsed(const QString& path);

    QString m_name;
    QString m_prompt;
    BackgroundCheck m_runCheck;
    QLabel* m_message = nullptr;
    bool m_checking = false;
};

} // namespace kivo::app
