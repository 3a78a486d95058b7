#pragma once

// Finding and answering the window's message boxes and pop-ups the way a user would.

#include <QAbstractButton>
#include <QMessageBox>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

namespace kivo::test {

inline QMessageBox* findSheet(const QWidget* window, const char* objectName)
{
    return window->findChild<QMessageBox*>(QString::fromLatin1(objectName));
}

// Clicks the first button made with this text; a missing button fails the test.
inline void clickButton(QWidget* box, const QString& text)
{
    for (QAbstractButton* b : box->findChildren<QAbstractButton*>())
        if (b->text() == text)
            return b->click();
    ADD_FAILURE() << "no button " << text.toStdString();
}

} // namespace kivo::test
