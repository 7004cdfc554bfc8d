// Test helpers shared by the editor windows' Qt tests, which run as one program.
#pragma once

#include "ModalCatcher.h"
#include "SoundTask.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <functional>
#include <memory>

namespace peltra::test {

// Registers a test class for the program's main, which runs every one registered.
bool registerFormsTest(std::function<std::unique_ptr<QObject>()> make);

// The named child of form; a missing one ends the run.
template <typename T = QWidget> T* control(QWidget& form, const char* name)
{
    T* widget = form.findChild<T*>(QString::fromLatin1(name));
    return widget != nullptr ? widget : (qFatal("control %s is missing", name), nullptr);
}

inline void click(QWidget& form, const char* name) { QTest::mouseClick(control(form, name), Qt::LeftButton); }

}  // namespace peltra::test

#define PELTRA_FORMS_TEST(Class) \
    static const bool kRegistered##Class = peltra::test::registerFormsTest([] { return std::make_unique<Class>(); });
