// The range dialog: the bounds of one numeric range of a task's filter, new or existing.
#pragma once

#include "config/ConfigStore.h"
#include "config/Operator.h"

#include <QDialog>

#include <cstdint>
#include <optional>
#include <string>

class QLineEdit;
class QListWidget;

namespace peltra::config {

// "Новый диапазон" (adds a range) or "Диапазон" (changes the range named, "0002"). It lists the
// task's ranges, takes "min:" and "max:" as whole numbers 0..4294967295 and stores them through
// the task, which swaps bounds given the wrong way round and withdraws the task from scheduling.
// A bound that cannot be read is reported with the value that would be taken instead (OK takes
// it, Cancel returns to the field). Modal; user interface thread only.
class FormRange : public QDialog {
    Q_OBJECT

public:
    // range: the range to change, or nothing for a new one.
    FormRange(ConfigStore& store, std::string binding, std::string task, std::optional<std::string> range,
              QWidget* parent = nullptr);

    // The range stored by OK: the new one's name, or the one changed.
    const std::optional<std::string>& range() const { return m_range; }
    // Whether storing withdrew the task from scheduling.
    bool withdrawn() const { return m_withdrawn; }

    // How a bound's text reads: the number, or nothing with the value taken instead: the nearest
    // limit for a number out of range, and for an empty or unreadable text the open end of that
    // bound (0 for the minimum, 4294967295 for the maximum).
    struct Reading {
        bool readable = false;
        std::uint32_t value = 0;
    };
    static Reading readBound(const QString& text, bool isMaximum);

    static const char* const kHint;
    static const char* const kBadMinimum;
    static const char* const kBadMaximum;
    static const char* const kWriteFailed;

public slots:
    void accept() override;

private:
    // The bound in the box; when it cannot be read the user is asked whether to take the stated
    // value. Nothing when they chose to correct it (the focus is then back on the box).
    std::optional<std::uint32_t> takeBound(QLineEdit* box, bool isMaximum);
    bool store();

    Operator m_task;
    std::optional<std::string> m_range;
    bool m_withdrawn = false;

    QListWidget* m_ranges;
    QLineEdit* m_minimum;
    QLineEdit* m_maximum;
};

}  // namespace peltra::config
