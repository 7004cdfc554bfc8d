// The SIP trunks of the configuration tree.
#include "sip/TrunkSettings.h"

#include "platform/text/CaseFold.h"
#include "platform/text/Trim.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace peltra::sip {
namespace {

const std::string kSip = "Sip";

std::string trimmed(const std::string& text)
{
    return std::string(platform::trimBlanks(text));
}

std::uint16_t portNumber(std::uint32_t value, std::uint16_t fallback)
{
    return value <= std::numeric_limits<std::uint16_t>::max() ? static_cast<std::uint16_t>(value) : fallback;
}

}  // namespace

std::optional<Transport> transportFromName(const std::string& name)
{
    const std::string bare = trimmed(name);
    if (platform::equalsIgnoreCase(bare, "udp"))
        return Transport::Udp;
    if (platform::equalsIgnoreCase(bare, "tcp"))
        return Transport::Tcp;
    if (platform::equalsIgnoreCase(bare, "tls"))
        return Transport::Tls;
    return std::nullopt;
}

std::string transportName(Transport transport)
{
    switch (transport) {
    case Transport::Tcp:
        return "tcp";
    case Transport::Tls:
        return "tls";
    default:
        return "udp";
    }
}

std::optional<std::vector<Codec>> codecsFromList(const std::string& list)
{
    std::vector<Codec> codecs;
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string name = trimmed(list.substr(start, comma - start));
        std::optional<Codec> codec;
        if (platform::equalsIgnoreCase(name, "PCMA"))
            codec = Codec::Pcma;
        else if (platform::equalsIgnoreCase(name, "PCMU"))
            codec = Codec::Pcmu;
        if (codec && std::find(codecs.begin(), codecs.end(), *codec) == codecs.end())
            codecs.push_back(*codec);
        start = comma + 1;
    }
    if (codecs.empty())
        return std::nullopt;
    return codecs;
}

std::string codecName(Codec codec)
{
    return codec == Codec::Pcmu ? "PCMU" : "PCMA";
}

bool isSipPort(const std::string& port)
{
    if (port.size() < 4 || !platform::equalsIgnoreCase(port.substr(0, 3), "SIP") || port[3] == '0')
        return false;
    return std::all_of(port.begin() + 3, port.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

std::optional<std::string> trunkSettingsProblem(const TrunkSettings& settings)
{
    const auto isSipUri = [](const std::string& uri) {
        return uri.size() > 4 && (platform::equalsIgnoreCase(uri.substr(0, 4), "sip:") ||
                                  (uri.size() > 5 && platform::equalsIgnoreCase(uri.substr(0, 5), "sips:")));
    };
    if (!isSipUri(settings.proxy))
        return "Proxy \"" + settings.proxy + "\" is no SIP URI (sip:host[:port])";
    if (settings.domain.empty())
        return "Domain is empty";
    if (settings.user.empty())
        return "User is empty";
    if (settings.rtpPortMin == 0 || settings.rtpPortMin >= settings.rtpPortMax)
        return "RtpPortMin must be above 0 and below RtpPortMax";
    if (settings.registerOn && settings.expires < 60)
        return "Expires must be at least 60 s";
    return std::nullopt;
}

bool isTrunkName(const std::string& trunk)
{
    return !trunk.empty() && trunk.find('\\') == std::string::npos;
}

TrunkSettings TrunkStore::readValues(const std::string& trunk, std::string& transport, std::string& codecs)
{
    const std::string key = kSip + "\\" + trunk;
    TrunkSettings settings;
    settings.name = trunk;
    settings.proxy = trimmed(m_store.readText(key, "Proxy", "sip:127.0.0.1:5060"));
    settings.domain = trimmed(m_store.readText(key, "Domain", "127.0.0.1"));
    settings.user = trimmed(m_store.readText(key, "User", "peltra"));
    settings.authUser = trimmed(m_store.readText(key, "AuthUser", ""));
    settings.password = m_store.readText(key, "Password", "");
    transport = m_store.readText(key, "Transport", "udp");
    settings.localAddress = trimmed(m_store.readText(key, "LocalAddress", ""));
    settings.localPort = portNumber(m_store.readNumber(key, "LocalPort", 0), 0);
    settings.registerOn = m_store.readBool(key, "Register", false);
    settings.expires = m_store.readNumber(key, "Expires", 3600);
    codecs = m_store.readText(key, "Codecs", "PCMA,PCMU");
    settings.rtpPortMin = portNumber(m_store.readNumber(key, "RtpPortMin", 10000), 0);
    settings.rtpPortMax = portNumber(m_store.readNumber(key, "RtpPortMax", 20000), 0);
    settings.callerId = m_store.readText(key, "CallerId", "");
    settings.caFile = trimmed(m_store.readText(key, "CaFile", ""));
    return settings;
}

std::optional<TrunkSettings> TrunkStore::read(const std::string& trunk, std::string* why)
{
    const auto fail = [&](const std::string& text) -> std::optional<TrunkSettings> {
        if (why != nullptr)
            *why = "trunk \"" + trunk + "\": " + text;
        return std::nullopt;
    };
    if (!isTrunkName(trunk))
        return fail("no such trunk name");
    std::string transport, codecs;
    TrunkSettings settings = readValues(trunk, transport, codecs);
    const std::optional<Transport> parsedTransport = transportFromName(transport);
    if (!parsedTransport)
        return fail("Transport \"" + transport + "\" is not udp, tcp or tls");
    settings.transport = *parsedTransport;
    std::optional<std::vector<Codec>> parsedCodecs = codecsFromList(codecs);
    if (!parsedCodecs)
        return fail("Codecs \"" + codecs + "\" names neither PCMA nor PCMU");
    settings.codecs = std::move(*parsedCodecs);
    if (std::optional<std::string> problem = trunkSettingsProblem(settings))
        return fail(*problem);
    return settings;
}

TrunkSettings TrunkStore::stored(const std::string& trunk)
{
    if (!isTrunkName(trunk))
        return TrunkSettings{};
    std::string transport, codecs;
    TrunkSettings settings = readValues(trunk, transport, codecs);
    settings.transport = transportFromName(transport).value_or(Transport::Udp);
    settings.codecs = codecsFromList(codecs).value_or(std::vector<Codec>{Codec::Pcma, Codec::Pcmu});
    return settings;
}

bool TrunkStore::write(const TrunkSettings& settings)
{
    if (!isTrunkName(settings.name))
        return false;
    const std::string key = kSip + "\\" + settings.name;
    std::string codecs;
    for (Codec codec : settings.codecs)
        codecs += (codecs.empty() ? "" : ",") + codecName(codec);
    bool written = m_store.writeText(key, "Proxy", settings.proxy);
    written = m_store.writeText(key, "Domain", settings.domain) && written;
    written = m_store.writeText(key, "User", settings.user) && written;
    written = m_store.writeText(key, "AuthUser", settings.authUser) && written;
    written = m_store.writeText(key, "Transport", transportName(settings.transport)) && written;
    written = m_store.writeText(key, "LocalAddress", settings.localAddress) && written;
    written = m_store.writeNumber(key, "LocalPort", settings.localPort) && written;
    written = m_store.writeBool(key, "Register", settings.registerOn) && written;
    written = m_store.writeNumber(key, "Expires", settings.expires) && written;
    written = m_store.writeText(key, "Codecs", codecs) && written;
    written = m_store.writeNumber(key, "RtpPortMin", settings.rtpPortMin) && written;
    written = m_store.writeNumber(key, "RtpPortMax", settings.rtpPortMax) && written;
    written = m_store.writeText(key, "CallerId", settings.callerId) && written;
    written = m_store.writeText(key, "CaFile", settings.caFile) && written;
    return written;
}

bool TrunkStore::setPassword(const std::string& trunk, const std::string& password)
{
    return isTrunkName(trunk) && m_store.writeText(kSip + "\\" + trunk, "Password", password);
}

std::string TrunkStore::trunkOfPort(const std::string& port)
{
    const std::string trunk = trimmed(m_store.readText("Ports\\" + port, "Trunk", "main"));
    return trunk.empty() ? "main" : trunk;
}

bool TrunkStore::setTrunkOfPort(const std::string& port, const std::string& trunk)
{
    return isSipPort(port) && isTrunkName(trunk) && m_store.writeText("Ports\\" + port, "Trunk", trunk);
}

std::vector<std::string> TrunkStore::trunkNames()
{
    return m_store.subKeys(kSip);
}

}  // namespace peltra::sip
