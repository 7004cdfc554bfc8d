// The station-wide settings kept as top-level values of the configuration tree.
#pragma once

#include "config/ConfigStore.h"

#include <string>

namespace peltra::config {

// Each getter reads the store afresh (a missing value is written with its default: off, or the
// empty string); each setter writes at once. Safe to call from any thread.
class AppSettings {
public:
    explicit AppSettings(ConfigStore& store);

    bool frozen();                 // scheduling of tasks is paused
    bool localPhone();             // every call goes to one number
    std::string localPhoneString();// the number local-phone mode dials
    bool localPhoneUpdate();       // in local-phone mode, write call results as usual
    bool linkTaskPortManual();     // tasks use only the ports linked to them by hand
    bool minimizeLaunch();         // minimise the main window at start
    bool minimizeIcon();           // hide the minimised main window, keep the tray icon
    bool autoRun();                // start at logon

    bool setFrozen(bool on);
    bool setLocalPhone(bool on);
    bool setLocalPhoneString(const std::string& number);
    bool setLocalPhoneUpdate(bool on);
    bool setLinkTaskPortManual(bool on);
    bool setMinimizeLaunch(bool on);
    bool setMinimizeIcon(bool on);
    bool setAutoRun(bool on);

private:
    ConfigStore& m_store;
};

}  // namespace peltra::config
