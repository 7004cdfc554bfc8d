// Test helpers shared by the editor windows' Qt tests, which run as one program.
#pragma once

#include "support/ModalCatcher.h"
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

}  // namespace peltra::test

#define PELTRA_FORMS_TEST(Class) \
    static const bool kRegistered##Class = peltra::test::registerFormsTest([] { return std::make_unique<Class>(); });
