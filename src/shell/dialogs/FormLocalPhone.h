// The local-phone dialog: send every call to one test number instead of the table's numbers.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;

namespace peltra::shell {

// Opens with the given values; "ОК" takes what the boxes hold (the number as typed), except that
// the mode switched on with a number that cannot be dialled is refused with a message box and
// the focus goes back to the number; "Отмена" keeps the values it was opened with. It writes nothing itself: the caller stores the
// chosen values and switches the station's flags. User interface thread only.
class FormLocalPhone : public QDialog {
    Q_OBJECT
public:
    explicit FormLocalPhone(QWidget* parent = nullptr);

    // Fills the boxes; also the values reported until "ОК" is pressed.
    void setValues(bool on, const QString& number, bool writeResults);

    bool isOn() const { return m_on; }
    const QString& number() const { return m_number; }
    bool writeResults() const { return m_writeResults; }

public slots:
    void accept() override;

private:
    void updateEnabled();

    bool m_on = false;
    QString m_number;
    bool m_writeResults = false;
    QLineEdit* m_numberBox = nullptr;
    QCheckBox* m_writeResultsBox = nullptr;
    QCheckBox* m_modeBox = nullptr;
};

}  // namespace peltra::shell
