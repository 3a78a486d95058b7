#pragma once

// The tempo and key pop-up: type a BPM, choose a key by root and quality (or type it: "Am",
// "F# minor", "8A"), send either back to automatic or mark it as none. It edits one row or a whole
// selection; on a folder the values reach everything below it that has none of its own. Return
// saves, Escape cancels.

#include "music/KeySpelling.h"

#include <QDialog>

#include <optional>
#include <string>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kivo::index {
class MetadataOverrideStore;
}

namespace kivo::app {

// What the editor starts from: the items and, when they all share one, their current values.
struct MetadataEditorItems {
    std::vector<std::string> paths;
    std::string firstName; // named in the title when there is one item
    bool anyFolder = false;
    std::optional<std::int64_t> bpm;
    std::optional<std::string> key; // key text
    // The items do not share one value (rather than sharing none).
    bool bpmDiffers = false;
    bool keyDiffers = false;
    // Where the shared values come from ("header", "tag", "name", "folder", "analysis", "user");
    // empty when there is none or the items differ.
    std::string bpmSource {};
    std::string keySource {};
};

class MetadataEditor : public QDialog {
    Q_OBJECT
public:
    enum class Field { bpm, key };
    MetadataEditor(index::MetadataOverrideStore& store, MetadataEditorItems items,
        music::KeySpelling spelling, Field focus, QWidget* parent = nullptr);

    // What Save will do with each field.
    enum class Change { none, value, automatic, cleared };
    Change bpmChange() const { return m_bpmChange; }
    Change keyChange() const { return m_keyChange; }
    QLineEdit* bpmField() const { return m_bpmField; }
    QLineEdit* keyField() const { return m_keyField; }
    // Applies the changes and closes; stays open when the typed key is not a key.
    void save();

private:
    QWidget* buildBPMRow();
    QWidget* buildKeyRows();
    void bpmEdited(const QString& text);
    void keyTyped(const QString& text);
    void rootChosen(int pitchClass);
    void qualityChosen(bool minor);
    void setBPMChange(Change change);
    void setKeyChange(Change change);
    // Buttons and field from the chosen key; the field is left alone while the user types in it.
    void showKey(bool rewriteField);

    index::MetadataOverrideStore& m_store;
    MetadataEditorItems m_items;
    music::KeySpelling m_spelling;
    Change m_bpmChange = Change::none;
    Change m_keyChange = Change::none;
    std::optional<int> m_root;
    bool m_minor = false;

    QLineEdit* m_bpmField = nullptr;
    QPushButton* m_bpmAutomatic = nullptr;
    QPushButton* m_bpmNone = nullptr;
    QLineEdit* m_keyField = nullptr;
    QButtonGroup* m_roots = nullptr;
    QPushButton* m_major = nullptr;
    QPushButton* m_minorButton = nullptr;
    QPushButton* m_keyAutomatic = nullptr;
    QPushButton* m_keyNone = nullptr;
    bool m_updating = false;
};

} // namespace kivo::app
