// The SIP trunks of the configuration tree ("Sip\<trunk>") and the SIP channels among the ports.
#pragma once

#include "config/ConfigStore.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace peltra::sip {

enum class Transport { Udp, Tcp, Tls };

// The G.711 laws a trunk offers, in its order of preference.
enum class Codec { Pcma, Pcmu };

// One trunk: where calls go and as whom. Read afresh when a trunk starts.
struct TrunkSettings {
    std::string name;                 // the sub-key of "Sip", "main" by default
    std::string proxy;                // Proxy: SIP URI of the carrier or PBX ("sip:127.0.0.1:5060")
    std::string domain;               // Domain: the host part of the dialled URI
    std::string user;                 // User: the station's own user part
    std::string authUser;             // AuthUser: the digest user name, User when empty
    std::string password;             // Password: kept only in the store, never shown
    Transport transport = Transport::Udp;
    std::string localAddress;         // LocalAddress: where the station listens and sends from; empty:
                                      // the address this machine uses towards the proxy
    std::uint16_t localPort = 0;      // LocalPort: 0 takes any free port
    bool registerOn = false;          // Register
    std::uint32_t expires = 3600;     // Expires: of a registration, s
    std::vector<Codec> codecs{Codec::Pcma, Codec::Pcmu};  // Codecs: "PCMA,PCMU"
    std::uint16_t rtpPortMin = 10000; // RtpPortMin
    std::uint16_t rtpPortMax = 20000; // RtpPortMax
    std::string callerId;             // CallerId: the From display name; empty: none
    std::string caFile;               // CaFile: a private CA for TLS; empty: the system's CAs
};

// What is wrong with a trunk's settings, or nothing when it can be started.
std::optional<std::string> trunkSettingsProblem(const TrunkSettings& settings);

// Transport and codec names as the store holds them: "udp", "tcp", "tls"; "PCMA", "PCMU".
std::optional<Transport> transportFromName(const std::string& name);
std::string transportName(Transport transport);
// "PCMA,PCMU" → the codecs in order; unknown names are left out, nothing when none is known.
std::optional<std::vector<Codec>> codecsFromList(const std::string& list);
std::string codecName(Codec codec);

// Whether a port name is a SIP channel: "SIP" and a number from 1, any case.
bool isSipPort(const std::string& port);
// Whether a name can be a trunk's key under "Sip": not empty, no backslash.
bool isTrunkName(const std::string& trunk);

// Reads and writes "Software\PELTRA\Sip\<trunk>" and the "Trunk" value of SIP ports. A missing
// value reads as its default and is written, so an operator finds every key to edit with
// peltra-reg. Safe from any thread.
class TrunkStore {
public:
    explicit TrunkStore(config::ConfigStore& store) : m_store(store) {}

    // The trunk's settings, or nothing with why when the name cannot be a key or the transport or
    // codecs are not understood.
    std::optional<TrunkSettings> read(const std::string& trunk, std::string* why = nullptr);
    // The trunk's values for editing, unchecked: a transport or codec list that is not understood
    // reads as its default. All defaults, and the store untouched, when the name cannot be a key.
    TrunkSettings stored(const std::string& trunk);
    // Writes every value of settings.name but the password, which only setPassword changes.
    bool write(const TrunkSettings& settings);
    bool setPassword(const std::string& trunk, const std::string& password);
    // The trunk a SIP port belongs to: its "Trunk" value, "main" by default.
    std::string trunkOfPort(const std::string& port);
    bool setTrunkOfPort(const std::string& port, const std::string& trunk);
    // The trunks named under "Sip".
    std::vector<std::string> trunkNames();

private:
    // The values with transport and codecs left as their stored text.
    TrunkSettings readValues(const std::string& trunk, std::string& transport, std::string& codecs);

    config::ConfigStore& m_store;
};

}  // namespace peltra::sip
