// A line that is one channel of a SIP trunk: the call session of a serial line, carried by SIP.
#pragma once

#include "line/LineDevice.h"
#include "platform/sync/Event.h"
#include "platform/sync/WorkerThread.h"
#include "sip/SipEndpoint.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace peltra::sip {

// A call runs on the session thread as a serial line's does, in up to ten attempts:
//
//   INVITE ──► 1xx: ringing on the display ──► 200: ACK, the message as paced RTP ──► BYE: 0
//          ├─► WaitAnswer runs out: CANCEL, 1      ├─► BYE from the far end, or the session lost:
//          ├─► 486, 600, 603: 1                    │     0 once the delivery marker has gone, else 2
//          ├─► other final failures: error with the status line
//          └─► no response, 503, transport down, trunk not registered: the attempt failed; after
//              RingOff the next one, and after the tenth the error with every reason met
//
// Of the port's settings, WaitAnswer, DelayFirst (a pause before the INVITE), RingOff (the pause
// after every attempt) and the prefixes count; pauses in the dial string are left out.
class SipLine final : public line::LineDevice, private TrunkWatcher {
public:
    SipLine(SipTrunks& trunks, platform::Event& shutdown, line::CallSettingsSource& settings,
            std::filesystem::path library);
    ~SipLine() override;
    SipLine(const SipLine&) = delete;
    SipLine& operator=(const SipLine&) = delete;

    void setView(line::LineView* view) override;
    void setOwner(line::CallResultSink* owner) override;
    // Starts the port's trunk if it is not running. False, with the reason on the view, when the
    // trunk's settings are wrong, it cannot start, or its registration has failed; the line then
    // reports through the owner once the trunk is ready.
    bool Open(unsigned lineNumber, const std::string& portName) override;
    void Stop() override;
    std::vector<std::string>& GetPhraseList() override { return m_phrases; }
    bool StartCall(const std::string& number) override;
    bool callRunning() const override { return m_session.running(); }

    // Keeps what the far end sends during the next calls, decoded to 8 kHz samples.
    void setRecording(bool on) { m_recording = on; }
    // What came back during the last answered call.
    std::vector<std::int16_t> lastRecording() const;
    std::shared_ptr<SipEndpoint> endpoint() const { return m_endpoint; }

private:
    // How one attempt ended.
    enum class Attempt { Delivered, NoAnswer, HungUp, Failed, Dead, Shutdown };

    std::uint32_t sessionThread();
    Attempt attempt(const std::string& dialled);
    Attempt transmit(const std::shared_ptr<SipCall>& call);
    // Ends the attempt on the loop and waits until the loop has let go of it.
    void release(const std::shared_ptr<SipCall>& call);
    // The whole message as samples and where its delivery marker falls; false with m_failure.
    bool prepareMessage();
    bool pause(std::uint32_t ms);
    void trunkReadiness(bool ready, const std::string& why) override;

    SipTrunks& m_trunks;
    platform::Event& m_shutdown;
    line::CallSettingsSource& m_settingsSource;
    std::filesystem::path m_library;

    line::LineView m_silentView;
    line::LineView* m_view = &m_silentView;
    line::CallResultSink* m_owner = nullptr;
    std::shared_ptr<SipEndpoint> m_endpoint;
    unsigned m_lineNumber = 0;
    std::string m_portName;
    std::atomic<bool> m_isOpen{false};
    std::atomic<bool> m_stopped{false};
    std::atomic<bool> m_recording{false};
    // Held while the trunk reports its readiness, so Stop can wait for a report in progress.
    std::mutex m_watchMutex;

    std::vector<std::string> m_phrases;
    std::string m_number;
    line::CallSettings m_settings;
    std::vector<std::int16_t> m_message;
    std::size_t m_markerSample = 0;
    std::string m_failure;
    mutable std::mutex m_recordingMutex;
    std::vector<std::int16_t> m_lastRecording;

    platform::Event m_close{true, false};
    platform::WorkerThread m_session;
};

}  // namespace peltra::sip
