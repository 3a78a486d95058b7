#pragma once

// The tag pop-up: every tag as a button showing its state for the selected items (off, on,
// inherited from a folder above, or on some of them), a field to create a tag by typing its name,
// "Clear", "Cancel" and "Save". Tags are renamed and deleted from their button's menu and reordered
// by dragging. The user's clicks are kept apart from the state the pop-up opened with and applied
// only on Save.

#include "organise/TagStore.h"

#include <QAbstractButton>
#include <QDialog>

#include <map>
#include <string>
#include <vector>

class QLineEdit;
class QGridLayout;

namespace kivo::app {

class TagButton : public QAbstractButton {
    Q_OBJECT
public:
    TagButton(const organise::SampleTag& tag, QWidget* parent);
    const organise::TagId& tagId() const { return m_id; }
    void setState(organise::TagButtonState state);
    organise::TagButtonState state() const { return m_state; }
    QSize sizeHint() const override;

signals:
    void renameRequested(const organise::TagId& id);
    void deleteRequested(const organise::TagId& id);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    organise::TagId m_id;
    organise::TagButtonState m_state = organise::TagButtonState::off;
    QPoint m_pressPos;
};

class TagEditor : public QDialog {
    Q_OBJECT
public:
    TagEditor(organise::TagStore& store, std::vector<std::string> paths, const std::string& firstName,
        QWidget* parent = nullptr);

    QLineEdit* newTagField() const { return m_newTag; }
    std::vector<TagButton*> buttons() const;
    TagButton* button(const organise::TagId& id) const;
    // What a click on the tag's button does (and a second click undoes).
    void toggle(const organise::TagId& id);
    // The state a button shows: the user's decision, else the state the pop-up opened with.
    organise::TagButtonState shownState(const organise::TagId& id) const;
    // Creates a tag from the field's text (or picks the tag of that name) and turns it on.
    void createFromField();
    void save();
    void clearAll();
    // Asks before deleting (the sheet's buttons are "Delete" and "Cancel").
    void askDelete(const organise::TagId& id);
    void askRename(const organise::TagId& id);
    // A tag dropped at a point of the grid.
    void dropTag(const organise::TagId& id, const QPoint& gridPos);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();

    organise::TagStore& m_store;
    std::vector<std::string> m_paths;
    std::map<organise::TagId, organise::TagButtonState, organise::TagIdLess> m_baseline;
    std::map<organise::TagId, organise::TagChoice, organise::TagIdLess> m_decisions;
    QLineEdit* m_newTag = nullptr;
    QWidget* m_grid = nullptr;
    QGridLayout* m_gridLayout = nullptr;
};

} // namespace kivo::app
