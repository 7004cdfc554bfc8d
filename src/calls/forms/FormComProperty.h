// The dialog that sets how one port dials and recognises the answer.
#pragma once

#include "calls/PortSettings.h"
#include "config/ConfigStore.h"
#include "sip/TrunkSettings.h"

#include <QDialog>

#include <functional>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QRadioButton;
class QWidget;

namespace peltra::calls {

class UpDown;

// "Настройка линии <port>": filled from the port's stored values when it is built; OK writes every
// value back (CallMode, RingOff, DelayFirst, WaitAnswer, DelayW, NeedPrefix, Prefix, DelayP,
// NeedPrefixTown, PrefixTown, TypeAnswer, in that order) and closes; Cancel writes nothing.
// A SIP channel (SIP<n>) has no dialing mode, pauses or answer type: those controls are hidden
// and not written. It shows instead its trunk ("Trunk") and that trunk's values under
// "Sip\<trunk>", which OK writes after the port's; the password is never shown, and an empty
// password box keeps the stored one. Modeless: the caller shows it. Lives on the UI thread.
class FormComProperty : public QDialog {
    Q_OBJECT

public:
    FormComProperty(config::ConfigStore& store, std::string port, QWidget* parent = nullptr);

    const std::string& port() const { return m_port; }

    // Called after each port value OK writes, with the value's name, in the order of writing.
    void setWriteObserver(std::function<void(const char* valueName)> observer) { m_writeObserver = std::move(observer); }

    // Message texts, shown in a box that leaves the dialog open.
    static const char* const kNumberMissing;
    static const char* const kWriteFailed;
    static const char* const kPortRange;
    static const char* const kBadTrunkName;
    static const char* const kBadCodecs;
    static const char* const kPasswordKept;

public slots:
    void accept() override;

private:
    void fill();
    QGroupBox* buildTrunkGroup();
    // Shows the trunk's stored values, the password aside.
    void fillTrunk(const std::string& trunk);
    // The number of a box, or nothing (with the message shown and the focus on it) when it is
    // empty or above maximum.
    bool readNumber(QLineEdit* box, std::uint32_t& value, std::uint32_t maximum = 0xFFFFFFFFu);
    // The edited trunk, or nothing with the message shown when a value is not acceptable.
    std::optional<sip::TrunkSettings> readTrunk();
    bool saveTrunk(const sip::TrunkSettings& trunk);
    void refuse(QWidget* box, const QString& text);
    bool save();
    void showMessage(const QString& text);
    void showWaveforms();

    PortSettings m_settings;
    sip::TrunkStore m_trunks;
    const std::string m_port;
    const bool m_sip;
    // The trunk whose values fill the boxes; its password is the one an empty box keeps.
    std::string m_shownTrunk;
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

    // A SIP channel's trunk; null for a serial line.
    QComboBox* m_trunk = nullptr;
    QLineEdit* m_proxy = nullptr;
    QLineEdit* m_domain = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_authUser = nullptr;
    QLineEdit* m_password = nullptr;
    QComboBox* m_transport = nullptr;
    QLineEdit* m_localAddress = nullptr;
    QLineEdit* m_localPort = nullptr;
    QCheckBox* m_register = nullptr;
    QLineEdit* m_expires = nullptr;
    QLineEdit* m_codecs = nullptr;
    QLineEdit* m_rtpPortMin = nullptr;
    QLineEdit* m_rtpPortMax = nullptr;
    QLineEdit* m_callerId = nullptr;
    QLineEdit* m_caFile = nullptr;
};

}  // namespace peltra::calls
