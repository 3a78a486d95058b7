#pragma once

// The "TAP" button: a tap per click, the tempo's digits while the manager shows one, a short
// flash on every tap and a cross-fade between "TAP" and the number.

#include <QPushButton>
#include <QString>

class QVariantAnimation;

namespace kivo::hotkeys {
class TapTempoManager;
}

namespace kivo::app {

class TapTempoButton : public QPushButton {
    Q_OBJECT
public:
    static constexpr int kWidth = 44;
    static constexpr int kHeight = 24;
    static constexpr int kAnimationMs = 350;

    TapTempoButton(hotkeys::TapTempoManager& manager, QWidget* parent = nullptr);

    // What the button reads now: "TAP" or the tempo's digits.
    QString shownText() const;
    double flashOpacity() const { return m_flashOpacity; }
    QString lastBPMText() const { return m_lastBPMText; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void tapped();
    void displayChanged();

    hotkeys::TapTempoManager& m_manager;
    double m_flashOpacity = 0;
    QString m_lastBPMText;
    QString m_shownBefore; // the text before the latest change
    QString m_previousText; // the text fading out
    double m_textBlend = 1.0; // 0 shows the previous text, 1 the current one
    QVariantAnimation* m_flash = nullptr;
    QVariantAnimation* m_change = nullptr;
};

} // namespace kivo::app
