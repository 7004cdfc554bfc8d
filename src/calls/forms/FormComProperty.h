// The dialog that sets how one port dials and recognises the answer.
#pragma once

#include "calls/PortSettings.h"
#include "config/ConfigStore.h"

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QLineEdit;
class QRadioButton;
class QWidget;

namespace peltra::calls {

class UpDown;

// "Настройка линии <port>": filled from the port's stored values when it is built; OK writes every
// value back (CallMode, RingOff, DelayFirst, WaitAnswer, DelayW, NeedPrefix, Prefix, DelayP,
// NeedPrefixTown, PrefixTown, TypeAnswer, in that order) and closes; Cancel writes nothing.
// Modeless: the caller shows it. Lives on the UI thread.
class FormComProperty : public QDialog {
    Q_OBJECT

public:
    FormComProperty(config::ConfigStore& store, std::string port, QWidget* parent = nullptr);

    const std::string& port() const { return m_port; }

    // Called after each value OK writes, with the value's name, in the order of writing.
    void setWriteObserver(std::function<void(const char* valueName)> observer) { m_writeObserver = std::move(observer); }

    // Message texts, shown in a box that leaves the dialog open.
    static const char* const kNumberMissing;
    static const char* const kWriteFailed;

public slots:
    void accept() override;

private:
    void fill();
    // The number of a box, or nothing (with the message shown and the focus on it) when it is empty.
    bool readNumber(QLineEdit* box, std::uint32_t& value);
    bool save();
    void showMessage(const QString& text);
    void showWaveforms();

    PortSettings m_settings;
    const std::string m_port;
    std::function<void(const char*)> m_writeObserver;

    QRadioButton* m_pulse;
    QRadioButton* m_tone;
    QLineEdit* m_ringOff;
    QLineEdit* m_delayFirst;
    QLineEdit* m_waitAnswer;
    QLineEdit* m_delayW;
    QCheckBox* m_needPrefix;
    QLineEdit* m_prefix;
    QLineEdit* m_delayP;
    QCheckBox* m_needPrefixTown;
    QLineEdit* m_prefixTown;
    QRadioButton* m_longReversal;
    QRadioButton* m_pulseReversal;
    QWidget* m_longReversalPicture;
    QWidget* m_pulseReversalPicture;
};

}  // namespace peltra::calls
