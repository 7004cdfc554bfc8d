// One SIP trunk on its own libre event loop.
#include "sip/SipEndpoint.h"

// libre declares its OpenSSL context accessor only for builds that say they use OpenSSL, as
// Debian's libre is built.
#define USE_OPENSSL 1
extern "C" {
#include <re/re.h>
}
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>

namespace peltra::sip {
namespace {

enum Command { kStartCall = 1, kEndCall = 2, kQuit = 3, kProbe = 4 };

// libre is set up once per process; every loop thread then makes a context of its own.
std::once_flag g_libreInit;
int g_libreInitError = 0;

// Room for the descriptors of many calls: each has its RTP socket on the trunk's loop.
constexpr int kMaxDescriptors = 16384;
// How long a closing trunk waits for its last BYE, CANCEL and unregistration to be answered.
constexpr std::uint64_t kCloseWaitMs = 1500;
// How long an answered far end has to answer the OPTIONS that asks whether the session stands.
constexpr std::uint64_t kProbeWaitMs = 2000;

std::string errorText(int error)
{
    if (error == ETIMEDOUT)
        return "no response";
    return std::strerror(error);
}

std::string plText(const pl& text)
{
    return std::string(text.p != nullptr ? text.p : "", text.l);
}

std::string statusLine(const sip_msg& msg)
{
    return std::to_string(msg.scode) + " " + plText(msg.reason);
}

// The first line of a SIP message, shortened: "INVITE sip:1@host" or "180 Ringing".
std::string shortFirstLine(const std::uint8_t* packet, std::size_t length)
{
    std::string line(reinterpret_cast<const char*>(packet), length);
    line = line.substr(0, line.find_first_of("\r\n"));
    const std::string version = "SIP/2.0";
    if (line.rfind(version + " ", 0) == 0)
        return line.substr(version.size() + 1);
    const std::size_t tail = line.rfind(" " + version);
    if (tail != std::string::npos && tail + version.size() + 1 == line.size())
        line.erase(tail);
    return line;
}

// The source address this machine would use towards host, found without sending anything: a
// UDP socket connected to it tells.
std::string sourceAddressTowards(const std::string& host)
{
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(5060);
    if (inet_pton(AF_INET, host.c_str(), &peer.sin_addr) != 1)
        return {};
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return {};
    std::string address;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &local.sin_addr, text, sizeof text) != nullptr)
            address = text;
    }
    ::close(fd);
    return address;
}

sip_transp libreTransport(Transport transport)
{
    switch (transport) {
    case Transport::Tcp:
        return SIP_TRANSP_TCP;
    case Transport::Tls:
        return SIP_TRANSP_TLS;
    default:
        return SIP_TRANSP_UDP;
    }
}

}  // namespace

std::string registrationText(Registration state)
{
    switch (state) {
    case Registration::NotUsed:
        return "no registration";
    case Registration::Pending:
        return "registering";
    case Registration::Registered:
        return "registered";
    default:
        return "not registered";
    }
}

// What one call holds on the loop: the call and the RTP socket the offer names.
struct CallContext {
    CallContext() { tmr_init(&probeTimer); }
    // Everything libre may still call back with this context goes first.
    ~CallContext()
    {
        tmr_cancel(&probeTimer);
        mem_deref(probe);
        mem_deref(rtp);
    }

    SipEndpoint::Loop* loop = nullptr;
    std::shared_ptr<SipCall> call;
    struct rtp_sock* rtp = nullptr;
    std::optional<Negotiated> answer;  // what the 200's SDP settled
    std::string mediaProblem;         // why it settled nothing
    struct sip_request* probe = nullptr;  // the OPTIONS in flight, libre clears it when answered
    tmr probeTimer;
};

struct SipEndpoint::Loop {
    explicit Loop(SipEndpoint& endpoint) : owner(endpoint) { tmr_init(&closeTimer); }

    SipEndpoint& owner;
    ::sip* stack = nullptr;
    sipsess_sock* sessions = nullptr;
    sipreg* registration = nullptr;
    mqueue* commands = nullptr;
    ::tls* tlsContext = nullptr;
    dnsc* resolver = nullptr;
    tmr closeTimer;
    std::string localIp;
    std::string route;  // the proxy every request goes through
    std::map<SipCall*, std::unique_ptr<CallContext>> calls;

    bool setUp(std::string& why);
    void tearDown();
    void startCall(const std::shared_ptr<SipCall>& call);
    void endCall(const std::shared_ptr<SipCall>& call);
    void probeCall(const std::shared_ptr<SipCall>& call);
    void close();

    static void onCommand(int id, void* data, void* arg);
    static void onTrace(bool tx, sip_transp, const sa*, const sa*, const std::uint8_t* packet, std::size_t length,
                        void* arg);
    static void onExit(void* arg);
    static void onCloseTimeout(void* arg);
    static void onIncoming(const sip_msg* msg, void* arg);
    static int onAuth(char** user, char** password, const char* realm, void* arg);
    static void onRegisterResponse(int error, const sip_msg* msg, void* arg);
    static int onOffer(mbuf** description, const sip_msg* msg, void* arg);
    static int onAnswer(const sip_msg* msg, void* arg);
    static void onProgress(const sip_msg* msg, void* arg);
    static void onEstablished(const sip_msg* msg, void* arg);
    static void onClose(int error, const sip_msg* msg, void* arg);
    static void onRtp(const sa* source, const rtp_header* header, mbuf* packet, void* arg);
    static void onProbeResponse(int error, const sip_msg* msg, void* arg);
    static void onProbeTimeout(void* arg);
};

bool SipEndpoint::Loop::setUp(std::string& why)
{
    const TrunkSettings& settings = owner.m_settings;
    uri proxy{};
    pl proxyText{};
    pl_set_str(&proxyText, settings.proxy.c_str());
    if (uri_decode(&proxy, &proxyText) != 0) {
        why = "Proxy \"" + settings.proxy + "\" is no SIP URI";
        return false;
    }
    // libre routes loosely through it and marks the Route header ";lr" itself.
    route = settings.proxy;

    localIp = settings.localAddress;
    if (localIp.empty() || localIp == "0.0.0.0")
        localIp = sourceAddressTowards(plText(proxy.host));
    if (localIp.empty()) {
        sa fallback{};
        char text[64] = {};
        if (net_default_source_addr_get(AF_INET, &fallback) == 0 && sa_ntop(&fallback, text, sizeof text) == 0)
            localIp = text;
    }
    sa local{};
    if (sa_set_str(&local, localIp.c_str(), settings.localPort) != 0) {
        why = "LocalAddress \"" + localIp + "\" is no IP address";
        return false;
    }

    // Name servers only for a proxy given by name; none is asked while it is an address.
    sa servers[4];
    std::uint32_t serverCount = 4;
    char domain[64] = {};
    if (dns_srv_get(domain, sizeof domain, servers, &serverCount) != 0)
        serverCount = 0;
    int error = dnsc_alloc(&resolver, nullptr, servers, serverCount);
    if (error == 0)
        error = sip_alloc(&stack, resolver, 32, 32, 32, "peltra", onExit, this);
    if (error != 0) {
        why = "SIP stack: " + errorText(error);
        return false;
    }
    if (settings.transport == Transport::Tls) {
        error = tls_alloc(&tlsContext, TLS_METHOD_SSLV23, nullptr, nullptr);
        SSL_CTX* context = error == 0 ? tls_openssl_context(tlsContext) : nullptr;
        if (context == nullptr) {
            why = "TLS: " + errorText(error != 0 ? error : ENOMEM);
            return false;
        }
        // The server's certificate must chain to a trusted CA and name the proxy's host.
        error = settings.caFile.empty() ? (SSL_CTX_set_default_verify_paths(context) == 1 ? 0 : EINVAL)
                                        : tls_add_ca(tlsContext, settings.caFile.c_str());
        if (error != 0) {
            why = "TLS: cannot read CaFile \"" + settings.caFile + "\"";
            return false;
        }
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        // A proxy given as an address is looked for among the certificate's IP names: a host
        // name check skips those and falls back to the common name.
        const std::string host = plText(proxy.host);
        X509_VERIFY_PARAM* names = SSL_CTX_get0_param(context);
        sa address{};
        if ((sa_set_str(&address, host.c_str(), 0) == 0 ? X509_VERIFY_PARAM_set1_ip_asc(names, host.c_str())
                                                         : X509_VERIFY_PARAM_set1_host(names, host.c_str(), 0)) != 1) {
            why = "TLS: cannot check certificates for \"" + host + "\"";
            return false;
        }
        error = sip_transp_add(stack, SIP_TRANSP_TLS, &local, tlsContext);
    } else {
        error = sip_transp_add(stack, libreTransport(settings.transport), &local);
    }
    if (error != 0) {
        why = transportName(settings.transport) + " on " + localIp + ":" + std::to_string(settings.localPort) +
              ": " + errorText(error);
        return false;
    }
    sip_set_trace_handler(stack, onTrace);
    error = sipsess_listen(&sessions, stack, 32, onIncoming, this);
    if (error == 0)
        error = mqueue_alloc(&commands, onCommand, this);
    if (error != 0) {
        why = "SIP sessions: " + errorText(error);
        return false;
    }
    if (settings.registerOn) {
        const std::string registrar = "sip:" + settings.domain;
        const std::string aor = "sip:" + settings.user + "@" + settings.domain;
        const char* routes[] = {route.c_str()};
        owner.setRegistration(Registration::Pending, "registering");
        error = sipreg_register(&registration, stack, registrar.c_str(), aor.c_str(),
                                settings.callerId.empty() ? nullptr : settings.callerId.c_str(), aor.c_str(),
                                settings.expires, settings.user.c_str(), routes, 1, 0, onAuth, this, false,
                                onRegisterResponse, this, nullptr, nullptr);
        if (error != 0) {
            why = "REGISTER: " + errorText(error);
            return false;
        }
    }
    return true;
}

void SipEndpoint::Loop::tearDown()
{
    for (auto& [key, context] : calls) {
        context->call->session = static_cast<sipsess*>(mem_deref(context->call->session));
        context->call->socket = nullptr;
        context->call->released.set();
    }
    calls.clear();
    tmr_cancel(&closeTimer);
    registration = static_cast<sipreg*>(mem_deref(registration));
    sessions = static_cast<sipsess_sock*>(mem_deref(sessions));
    if (stack != nullptr)
        sip_close(stack, true);
    stack = static_cast<::sip*>(mem_deref(stack));
    tlsContext = static_cast<::tls*>(mem_deref(tlsContext));
    resolver = static_cast<dnsc*>(mem_deref(resolver));
    commands = static_cast<mqueue*>(mem_deref(commands));
}

void SipEndpoint::Loop::close()
{
    // BYE and CANCEL for the calls still up, the unregistration, then the loop ends once the
    // stack has no transaction left, or after a short wait.
    for (auto& [key, context] : calls) {
        context->call->session = static_cast<sipsess*>(mem_deref(context->call->session));
    }
    registration = static_cast<sipreg*>(mem_deref(registration));
    sip_close(stack, false);
    tmr_start(&closeTimer, kCloseWaitMs, onCloseTimeout, this);
}

void SipEndpoint::Loop::startCall(const std::shared_ptr<SipCall>& call)
{
    const TrunkSettings& settings = owner.m_settings;
    auto context = std::make_unique<CallContext>();
    context->loop = this;
    context->call = call;
    CallContext* raw = context.get();
    calls[call.get()] = std::move(context);

    sa rtpAddress{};
    int error = sa_set_str(&rtpAddress, localIp.c_str(), 0);
    if (error == 0)
        error = rtp_listen(&raw->rtp, IPPROTO_UDP, &rtpAddress, settings.rtpPortMin, settings.rtpPortMax, false,
                           onRtp, nullptr, raw);
    if (error != 0) {
        call->noteEnd(CallEnd::NoResponse, 0, "no free RTP port in " + std::to_string(settings.rtpPortMin) + "-" +
                                                  std::to_string(settings.rtpPortMax) + ": " + errorText(error));
        return;
    }
    call->socket = raw->rtp;
    call->offer = std::make_unique<MediaOffer>(localIp, sa_port(rtp_local(raw->rtp)), settings.codecs);
    mbuf* body = call->offer->encodeOffer();
    if (body == nullptr) {
        call->noteEnd(CallEnd::Rejected, 0, "SDP offer could not be made");
        return;
    }
    const std::string to = "sip:" + call->number + "@" + settings.domain;
    const std::string from = "sip:" + settings.user + "@" + settings.domain;
    const char* routes[] = {route.c_str()};
    error = sipsess_connect(&call->session, sessions, to.c_str(),
                            settings.callerId.empty() ? nullptr : settings.callerId.c_str(), from.c_str(),
                            settings.user.c_str(), routes, 1, "application/sdp", body, onAuth, this, false, onOffer,
                            onAnswer, onProgress, onEstablished, nullptr, nullptr, onClose, raw, nullptr);
    mem_deref(body);
    if (error != 0) {
        call->session = nullptr;
        call->noteEnd(CallEnd::NoResponse, 0, "INVITE: " + errorText(error));
    }
}

void SipEndpoint::Loop::endCall(const std::shared_ptr<SipCall>& call)
{
    auto found = calls.find(call.get());
    if (found != calls.end()) {
        // Dropping the session sends CANCEL before the answer and BYE after it; libre keeps
        // the transaction until it is answered.
        call->session = static_cast<sipsess*>(mem_deref(call->session));
        call->socket = nullptr;
        call->offer.reset();
        calls.erase(found);
    }
    call->released.set();
}

void SipEndpoint::Loop::probeCall(const std::shared_ptr<SipCall>& call)
{
    auto found = calls.find(call.get());
    if (found == calls.end() || call->session == nullptr || found->second->probe != nullptr)
        return;
    CallContext* context = found->second.get();
    const int error = sip_drequestf(&context->probe, stack, true, "OPTIONS", sipsess_dialog(call->session), 0,
                                    nullptr, nullptr, onProbeResponse, context, "Content-Length: 0\r\n\r\n");
    if (error != 0) {
        call->noteEnd(CallEnd::FarHangUp, 0, "session lost: OPTIONS: " + errorText(error));
        return;
    }
    tmr_start(&context->probeTimer, kProbeWaitMs, onProbeTimeout, context);
}

void SipEndpoint::Loop::onProbeResponse(int error, const sip_msg* msg, void* arg)
{
    // Any response, even a refusal, shows the far end still holds the session.
    if (error == 0 && msg != nullptr)
        tmr_cancel(&static_cast<CallContext*>(arg)->probeTimer);
}

void SipEndpoint::Loop::onProbeTimeout(void* arg)
{
    auto* context = static_cast<CallContext*>(arg);
    context->probe = static_cast<struct sip_request*>(mem_deref(context->probe));
    context->call->noteEnd(CallEnd::FarHangUp, 0, "session lost: no audio and no answer to OPTIONS");
}

void SipEndpoint::Loop::onCommand(int id, void* data, void* arg)
{
    auto* loop = static_cast<Loop*>(arg);
    std::unique_ptr<std::shared_ptr<SipCall>> call(static_cast<std::shared_ptr<SipCall>*>(data));
    switch (id) {
    case kStartCall:
        loop->startCall(*call);
        break;
    case kEndCall:
        loop->endCall(*call);
        break;
    case kQuit:
        loop->close();
        break;
    case kProbe:
        loop->probeCall(*call);
        break;
    default:
        break;
    }
}

void SipEndpoint::Loop::onTrace(bool tx, sip_transp, const sa*, const sa*, const std::uint8_t* packet,
                                std::size_t length, void* arg)
{
    auto* loop = static_cast<Loop*>(arg);
    std::function<void(const std::string&)> trace;
    {
        std::lock_guard lock(loop->owner.m_mutex);
        trace = loop->owner.m_trace;
    }
    const std::string line = shortFirstLine(packet, length);
    if (trace && !line.empty())
        trace((tx ? "→ " : "← ") + line);
}

void SipEndpoint::Loop::onExit(void*)
{
    re_cancel();
}

void SipEndpoint::Loop::onCloseTimeout(void*)
{
    re_cancel();
}

void SipEndpoint::Loop::onIncoming(const sip_msg* msg, void* arg)
{
    // The station only calls out; a call in is declined at once.
    auto* loop = static_cast<Loop*>(arg);
    sip_treply(nullptr, loop->stack, msg, 603, "Decline");
}

int SipEndpoint::Loop::onAuth(char** user, char** password, const char*, void* arg)
{
    const TrunkSettings& settings = static_cast<Loop*>(arg)->owner.m_settings;
    const std::string& name = settings.authUser.empty() ? settings.user : settings.authUser;
    int error = str_dup(user, name.c_str());
    if (error == 0)
        error = str_dup(password, settings.password.c_str());
    return error;
}

void SipEndpoint::Loop::onRegisterResponse(int error, const sip_msg* msg, void* arg)
{
    auto* loop = static_cast<Loop*>(arg);
    if (error != 0)
        loop->owner.setRegistration(Registration::Failed, "REGISTER: " + errorText(error));
    else if (msg != nullptr && msg->scode >= 200 && msg->scode < 300)
        loop->owner.setRegistration(Registration::Registered, "registered");
    else if (msg != nullptr && msg->scode >= 300)
        loop->owner.setRegistration(Registration::Failed, "REGISTER: " + statusLine(*msg));
}

int SipEndpoint::Loop::onOffer(mbuf** description, const sip_msg* msg, void* arg)
{
    // A re-INVITE from the far end: the same law and our same address, or it is refused.
    auto* context = static_cast<CallContext*>(arg);
    SipCall& call = *context->call;
    std::string why;
    std::optional<Negotiated> peer = call.offer ? call.offer->readRemote(msg->mb, true, &why) : std::nullopt;
    if (!peer)
        return EPROTO;
    *description = call.offer->encodeAnswer();
    return *description != nullptr ? 0 : ENOMEM;
}

int SipEndpoint::Loop::onAnswer(const sip_msg* msg, void* arg)
{
    auto* context = static_cast<CallContext*>(arg);
    SipCall& call = *context->call;
    std::string why;
    std::optional<Negotiated> peer = call.offer ? call.offer->readRemote(msg->mb, false, &why) : std::nullopt;
    if (!peer) {
        context->mediaProblem = why;
        return EPROTO;
    }
    context->answer = peer;
    return 0;
}

void SipEndpoint::Loop::onProgress(const sip_msg* msg, void* arg)
{
    // Ringing and early media are no answer: the call waits for 200.
    static_cast<CallContext*>(arg)->call->noteProgress(statusLine(*msg));
}

void SipEndpoint::Loop::onEstablished(const sip_msg* msg, void* arg)
{
    auto* context = static_cast<CallContext*>(arg);
    SipCall& call = *context->call;
    if (!context->answer) {
        // A 200 without a usable answer cannot carry the message: hang up at once.
        call.session = static_cast<sipsess*>(mem_deref(call.session));
        call.noteEnd(CallEnd::Rejected, msg != nullptr ? msg->scode : 0,
                     "200 OK without a usable SDP answer" +
                         (context->mediaProblem.empty() ? std::string() : ": " + context->mediaProblem));
        return;
    }
    call.noteAnswer(*context->answer);
}

void SipEndpoint::Loop::onClose(int error, const sip_msg* msg, void* arg)
{
    auto* context = static_cast<CallContext*>(arg);
    SipCall& call = *context->call;
    if (call.answered.isSet()) {
        const bool bye = msg != nullptr && msg->req;
        call.noteEnd(CallEnd::FarHangUp, 0, bye ? plText(msg->met) : "session lost: " + errorText(error));
        return;
    }
    if (!context->mediaProblem.empty()) {
        call.noteEnd(CallEnd::Rejected, 0, "no usable SDP answer: " + context->mediaProblem);
        return;
    }
    if (msg != nullptr && !msg->req && msg->scode >= 300) {
        call.noteEnd(CallEnd::Rejected, msg->scode, statusLine(*msg));
        return;
    }
    call.noteEnd(CallEnd::NoResponse, 0, error != 0 ? errorText(error) : "session closed");
}

void SipEndpoint::Loop::onRtp(const sa* source, const rtp_header* header, mbuf* packet, void* arg)
{
    auto* context = static_cast<CallContext*>(arg);
    if (source == nullptr || header == nullptr || packet == nullptr)
        return;
    context->call->intake.packet(*source, *header,
                                 std::span<const std::uint8_t>(mbuf_buf(packet), mbuf_get_left(packet)));
}

SipEndpoint::SipEndpoint(TrunkSettings settings, RtpPacer& pacer)
    : m_settings(std::move(settings)), m_pacer(pacer), m_loop(std::make_unique<Loop>(*this))
{
    if (m_settings.registerOn)
        m_registration = Registration::Pending;
}

SipEndpoint::~SipEndpoint()
{
    if (m_thread.joinable()) {
        post(kQuit, nullptr);
        m_thread.join();
    }
}

bool SipEndpoint::start(std::string* why)
{
    std::call_once(g_libreInit, [] { g_libreInitError = libre_init(); });
    if (g_libreInitError != 0) {
        if (why != nullptr)
            *why = "libre: " + errorText(g_libreInitError);
        return false;
    }
    m_thread = std::thread([this] { run(); });
    m_started.wait(platform::infiniteTimeout);
    if (!m_startOk) {
        m_thread.join();
        if (why != nullptr)
            *why = "trunk \"" + m_settings.name + "\": " + m_startWhy;
        return false;
    }
    return true;
}

void SipEndpoint::run()
{
    re_thread_init();
    fd_setsize(kMaxDescriptors);
    std::string why;
    const bool ok = m_loop->setUp(why);
    {
        std::lock_guard lock(m_mutex);
        m_running = ok;
    }
    m_startOk = ok;
    m_startWhy = why;
    m_started.set();
    if (ok)
        re_main(nullptr);
    {
        std::lock_guard lock(m_mutex);
        m_running = false;
    }
    m_loop->tearDown();
    re_thread_close();
}

void SipEndpoint::post(int command, std::shared_ptr<SipCall> call)
{
    auto* data = new std::shared_ptr<SipCall>(std::move(call));
    if (m_loop->commands == nullptr || mqueue_push(m_loop->commands, command, data) != 0) {
        if (*data)
            (*data)->released.set();
        delete data;
    }
}

Registration SipEndpoint::registration() const
{
    std::lock_guard lock(m_mutex);
    return m_registration;
}

bool SipEndpoint::ready(std::string* why) const
{
    std::lock_guard lock(m_mutex);
    const bool ok = m_running && m_registration != Registration::Failed;
    if (!ok && why != nullptr)
        *why = m_running ? m_registrationWhy : "trunk \"" + m_settings.name + "\" is not running";
    return ok;
}

void SipEndpoint::addWatcher(TrunkWatcher* watcher)
{
    std::lock_guard lock(m_mutex);
    m_watchers.insert(watcher);
}

void SipEndpoint::removeWatcher(TrunkWatcher* watcher)
{
    std::lock_guard lock(m_mutex);
    m_watchers.erase(watcher);
}

void SipEndpoint::setTrace(std::function<void(const std::string&)> trace)
{
    std::lock_guard lock(m_mutex);
    m_trace = std::move(trace);
}

void SipEndpoint::startCall(const std::shared_ptr<SipCall>& call)
{
    post(kStartCall, call);
}

void SipEndpoint::endCall(const std::shared_ptr<SipCall>& call)
{
    post(kEndCall, call);
}

void SipEndpoint::probeCall(const std::shared_ptr<SipCall>& call)
{
    post(kProbe, call);
}

void SipEndpoint::setRegistration(Registration state, const std::string& why)
{
    std::set<TrunkWatcher*> watchers;
    bool changed = false;
    {
        std::lock_guard lock(m_mutex);
        const bool wasReady = m_registration != Registration::Failed;
        m_registration = state;
        m_registrationWhy = why;
        changed = wasReady != (state != Registration::Failed) || state == Registration::Registered;
        watchers = m_watchers;
    }
    if (!changed)
        return;
    for (TrunkWatcher* watcher : watchers)
        watcher->trunkReadiness(state != Registration::Failed, "trunk \"" + m_settings.name + "\": " + why);
}

SipTrunks::SipTrunks(config::ConfigStore& store) : m_store(store) {}

SipTrunks::~SipTrunks() = default;

std::shared_ptr<SipEndpoint> SipTrunks::endpoint(const std::string& trunk, std::string* why)
{
    std::lock_guard lock(m_mutex);
    for (const std::shared_ptr<SipEndpoint>& endpoint : m_endpoints)
        if (endpoint->settings().name == trunk)
            return endpoint;
    std::optional<TrunkSettings> settings = TrunkStore(m_store).read(trunk, why);
    if (!settings)
        return nullptr;
    auto endpoint = std::make_shared<SipEndpoint>(std::move(*settings), m_pacer);
    if (!endpoint->start(why))
        return nullptr;
    m_endpoints.push_back(endpoint);
    return endpoint;
}

std::string SipTrunks::trunkOfPort(const std::string& port)
{
    return TrunkStore(m_store).trunkOfPort(port);
}

std::vector<std::pair<std::string, std::string>> SipTrunks::describe()
{
    std::vector<std::pair<std::string, std::string>> trunks;
    for (const std::string& name : TrunkStore(m_store).trunkNames()) {
        std::string state = "not started";
        std::lock_guard lock(m_mutex);
        for (const std::shared_ptr<SipEndpoint>& endpoint : m_endpoints)
            if (endpoint->settings().name == name) {
                std::string why;
                state = registrationText(endpoint->registration());
                if (!endpoint->ready(&why))
                    state += " (" + why + ")";
            }
        trunks.emplace_back(name, state);
    }
    return trunks;
}

}  // namespace peltra::sip
