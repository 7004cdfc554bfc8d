// One SIP trunk: its libre stack on an event-loop thread of its own, its registration, and the
// call attempts of its channels.
#pragma once

#include "sip/SipCall.h"
#include "sip/TrunkSettings.h"

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct sip;
struct sipsess_sock;
struct sipreg;
struct mqueue;
struct tls;
struct dnsc;

namespace peltra::sip {

// Registration as the channels of the trunk see it.
enum class Registration {
    NotUsed,     // Register is 0: the trunk is ready as soon as it runs
    Pending,     // the first REGISTER has not been answered yet
    Registered,
    Failed,      // refused or unanswered; libre tries again with a growing wait
};

// Told when the trunk's readiness changes. Called on the loop thread; must return quickly and
// must not call back into the endpoint.
class TrunkWatcher {
public:
    virtual ~TrunkWatcher() = default;
    virtual void trunkReadiness(bool ready, const std::string& why) = 0;
};

class SipEndpoint {
public:
    // pacer: shared by every trunk of the station, outlives the endpoint.
    SipEndpoint(TrunkSettings settings, RtpPacer& pacer);
    // Ends every call (BYE or CANCEL), unregisters, and joins the loop thread (about 2 s at most).
    ~SipEndpoint();
    SipEndpoint(const SipEndpoint&) = delete;
    SipEndpoint& operator=(const SipEndpoint&) = delete;

    // Starts the loop and the transport; false with why when the stack cannot be set up (a local
    // address that is not this machine's, a port in use, TLS without its CA file).
    bool start(std::string* why);

    const TrunkSettings& settings() const { return m_settings; }
    RtpPacer& pacer() { return m_pacer; }
    Registration registration() const;
    // Ready for calls: running, and registered when it registers. why: the reason when not.
    bool ready(std::string* why = nullptr) const;

    void addWatcher(TrunkWatcher* watcher);
    void removeWatcher(TrunkWatcher* watcher);

    // Every SIP message this trunk sends or receives, as one short line ("→ INVITE sip:1@host",
    // "← 180 Ringing"); passwords never reach it (digest answers are not shown). Set before
    // start; called on the loop thread.
    void setTrace(std::function<void(const std::string&)> trace);

    // Sends the INVITE of an attempt; the call's events report what follows.
    void startCall(const std::shared_ptr<SipCall>& call);
    // Ends the attempt: CANCEL before the answer, BYE after it, then frees its socket and session
    // and sets its released event. Safe to call more than once.
    void endCall(const std::shared_ptr<SipCall>& call);
    // Asks an answered far end whether the session still stands (an in-dialog OPTIONS). No
    // answer within a few seconds ends the call as lost.
    void probeCall(const std::shared_ptr<SipCall>& call);

    // Loop-thread callbacks of libre, public for its C callbacks only.
    struct Loop;

private:
    void run();
    void post(int command, std::shared_ptr<SipCall> call);
    void setRegistration(Registration state, const std::string& why);

    TrunkSettings m_settings;
    RtpPacer& m_pacer;

    mutable std::mutex m_mutex;
    Registration m_registration = Registration::NotUsed;
    std::string m_registrationWhy;
    std::set<TrunkWatcher*> m_watchers;
    std::function<void(const std::string&)> m_trace;

    platform::Event m_started{true, false};
    bool m_startOk = false;
    std::string m_startWhy;
    bool m_running = false;
    std::unique_ptr<Loop> m_loop;
    std::thread m_thread;
};

// Every trunk of the station, started when a channel first asks for it, and the pacer they share.
class SipTrunks {
public:
    explicit SipTrunks(config::ConfigStore& store);
    ~SipTrunks();

    // The running endpoint of a trunk, started from the store's settings at the first request;
    // nullptr with why when the trunk's settings are wrong or it cannot start.
    std::shared_ptr<SipEndpoint> endpoint(const std::string& trunk, std::string* why);
    // The trunk of a SIP port.
    std::string trunkOfPort(const std::string& port);
    // The trunks named in the store, each with its registration state, for the probe.
    std::vector<std::pair<std::string, std::string>> describe();

private:
    config::ConfigStore& m_store;
    RtpPacer m_pacer;
    std::mutex m_mutex;
    std::vector<std::shared_ptr<SipEndpoint>> m_endpoints;
};

// The state words the console and the monitor show.
std::string registrationText(Registration state);

}  // namespace peltra::sip
