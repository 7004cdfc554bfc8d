// The station-wide settings under the root of the configuration tree.
#include "config/AppSettings.h"

namespace peltra::config {
namespace {

const std::string kTopLevel;  // the root key itself

}  // namespace

AppSettings::AppSettings(ConfigStore& store) : m_store(store) {}

bool AppSettings::frozen(bool otherwise) { return m_store.readBool(kTopLevel, "Frozen", otherwise); }
bool AppSettings::localPhone(bool otherwise) { return m_store.readBool(kTopLevel, "LocalPhone", otherwise); }
std::string AppSettings::localPhoneString(const std::string& otherwise)
{
    return m_store.readText(kTopLevel, "LocalPhoneString", otherwise);
}
bool AppSettings::localPhoneUpdate(bool otherwise) { return m_store.readBool(kTopLevel, "LocalPhoneUpdate", otherwise); }
bool AppSettings::linkTaskPortManual(bool otherwise) { return m_store.readBool(kTopLevel, "LinkTaskPortManual", otherwise); }
bool AppSettings::minimizeLaunch(bool otherwise) { return m_store.readBool(kTopLevel, "MinimizeLaunch", otherwise); }
bool AppSettings::minimizeIcon(bool otherwise) { return m_store.readBool(kTopLevel, "MinimizeIcon", otherwise); }
bool AppSettings::autoRun(bool otherwise) { return m_store.readBool(kTopLevel, "AutoRun", otherwise); }

bool AppSettings::setFrozen(bool on) { return m_store.writeBool(kTopLevel, "Frozen", on); }
bool AppSettings::setLocalPhone(bool on) { return m_store.writeBool(kTopLevel, "LocalPhone", on); }
bool AppSettings::setLocalPhoneString(const std::string& number)
{
    return m_store.writeText(kTopLevel, "LocalPhoneString", number);
}
bool AppSettings::setLocalPhoneUpdate(bool on) { return m_store.writeBool(kTopLevel, "LocalPhoneUpdate", on); }
bool AppSettings::setLinkTaskPortManual(bool on) { return m_store.writeBool(kTopLevel, "LinkTaskPortManual", on); }
bool AppSettings::setMinimizeLaunch(bool on) { return m_store.writeBool(kTopLevel, "MinimizeLaunch", on); }
bool AppSettings::setMinimizeIcon(bool on) { return m_store.writeBool(kTopLevel, "MinimizeIcon", on); }
bool AppSettings::setAutoRun(bool on) { return m_store.writeBool(kTopLevel, "AutoRun", on); }

}  // namespace peltra::config
