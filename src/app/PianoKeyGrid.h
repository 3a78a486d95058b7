#pragma once

// Twelve piano keys, one octave from C, for choosing a key's root. One focus stop: Left and Right
// move among the keys in pitch order, Space or Return presses the one with the focus ring.

#include <QWidget>

#include <optional>

namespace kivo::app {

class PianoKeyGrid : public QWidget {
    Q_OBJECT
public:
    explicit PianoKeyGrid(QWidget* parent = nullptr);

    void setChosen(std::optional<int> pitchClass);
    std::optional<int> chosen() const { return m_chosen; }
    int focusedKey() const { return m_focused; }
    // The key's area, for tests and the pointer.
    QRect keyRect(int pitchClass) const;
    QSize sizeHint() const override;

signals:
    void keyPressed(int pitchClass);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::optional<int> keyAt(QPoint pos) const;

    std::optional<int> m_chosen;
    int m_focused = 0;
};

} // namespace kivo::app
