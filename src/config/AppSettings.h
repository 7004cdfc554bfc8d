// The station-wide settings kept as top-level values of the configuration tree.
#pragma once

#include "config/ConfigStore.h"

#include <string>

namespace peltra::config {

// Each getter reads the store afresh (a missing value is written with its default: off, or the
// empty string, unless the caller names another); a store that cannot be read gives the default
// too. Each setter writes at once. Safe to call from any thread.
class AppSettings {
public:
    explicit AppSettings(ConfigStore& store);

    bool frozen(bool otherwise = false);              // scheduling of tasks is paused
    bool localPhone(bool otherwise = false);          // every call goes to one number
    std::string localPhoneString(const std::string& otherwise = {});  // the number local-phone mode dials
    bool localPhoneUpdate(bool otherwise = false);    // in local-phone mode, write call results as usual
    bool linkTaskPortManual(bool otherwise = false);  // tasks use only the ports linked to them by hand
    bool minimizeLaunch(bool otherwise = false);      // minimise the main window at start
    bool minimizeIcon(bool otherwise = false);        // hide the minimised main window, keep the tray icon
    bool autoRun(bool otherwise = false);             // start at logon

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
