// A host for the upload engine that answers from settable fields and writes down every call
// as a short text, in order, so a test compares what the operator would see with a list.
#pragma once

#include "upload/UploadEngine.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

namespace engine_test {

using upload::UploadEngine;

inline const std::string Instructions =
    "1)Click Select File\n1)Double-click File to\n   begin upload";

class RecordingHost : public upload::EngineHost
{
public:
    std::vector<std::string> calls;
    std::string sent;           // every byte the port accepted, in order
    std::uint64_t reported = 0; // of them, reported taken or dropped
    std::vector<upload::UnitRecord> records;
    UploadEngine* engine = nullptr;
    // The window enters the Comm Setup page at once when it is shown while the focus lies on
    // the Upload page.
    bool focusOnUploadPage = false;
    bool addCr = false;
    bool singleStep = false;
    std::string refusal;
    std::string helpText = "Help of the Comm Setup page";
    std::chrono::steady_clock::time_point now{std::chrono::hours(1)};
    LocalTime wall{std::chrono::sys_seconds{std::chrono::seconds(1'800'000'000)}, 3600};

    void Advance(std::chrono::seconds d)
    {
        now += d;
        wall.utc += d;
    }

    std::string Send(const std::string& bytes) override
    {
        calls.push_back("send:" + bytes);
        if (refusal.empty())
            sent += bytes;
        return refusal;
    }
    void AbandonSends() override { calls.push_back("abandon"); }
    void Purge() override { calls.push_back("purge"); }
    void ReleaseHold() override { calls.push_back("release"); }
    upload::PortIdentity Port() const override { return {"COM2", "/dev/ttyUSB0", 9600}; }
    void Advise(const std::string& errorText) override { calls.push_back("advise:" + errorText); }
    void WakeUpTimer(bool on) override { calls.push_back(on ? "timer:on" : "timer:off"); }
    void Status(const std::string& text) override { calls.push_back("status:" + text); }
    void Log(const std::string& text) override { calls.push_back("log:" + text); }
    void Terminal(const std::string& text, bool atOnce) override
    {
        calls.push_back((atOnce ? "term-now:" : "term:") + text);
    }
    void FlushTerminal() override { calls.push_back("flush"); }
    void ShowPage(upload::Page page) override
    {
        const bool comm = page == upload::Page::CommSetup;
        calls.push_back(comm ? "page:comm" : "page:upload");
        if (comm && focusOnUploadPage && engine)
            engine->CommPageEntered();
    }
    void BrowseEnabled(bool on) override { calls.push_back(on ? "browse:on" : "browse:off"); }
    void ProgressMaximum(int maximum) override
    {
        calls.push_back("max:" + std::to_string(maximum));
    }
    void Progress(int position) override
    {
        calls.push_back("progress:" + std::to_string(position));
    }
    void XoffLamp(bool lit) override { calls.push_back(lit ? "lamp:on" : "lamp:off"); }
    std::string HelpText() const override { return helpText; }
    void SetHelpText(const std::string& text) override
    {
        helpText = text;
        calls.push_back("help:" + text);
    }
    void HighPriority(bool on) override
    {
        calls.push_back(on ? "priority:high" : "priority:normal");
    }
    bool AddCr() const override { return addCr; }
    bool SingleStep() const override { return singleStep; }
    void AskStep() override { calls.push_back("step"); }
    void RecordUnit(const upload::UnitRecord& record) override
    {
        records.push_back(record);
        calls.push_back("record:" + std::string(upload::OutcomeName(record.outcome)));
    }
    std::chrono::steady_clock::time_point Now() const override { return now; }
    LocalTime WallNow() const override { return wall; }
};

inline upload::FirmwareFile File(std::string bytes, std::string path = "fw.txt")
{
    return {path, "/lab/" + path, true, std::move(bytes), {}};
}

// An engine on a recording host, with the steps that bring it to each stage of the cycle.
class EngineTest : public ::testing::Test
{
protected:
    EngineTest() { host.engine = &engine; }

    // The calls since the last look.
    std::vector<std::string> Take()
    {
        std::vector<std::string> taken;
        taken.swap(host.calls);
        return taken;
    }
    // The calls since the last look that begin with `prefix`.
    std::vector<std::string> Take(std::string_view prefix)
    {
        std::vector<std::string> kept;
        for (const std::string& call : Take())
            if (call.starts_with(prefix))
                kept.push_back(call);
        return kept;
    }

    void Greet()
    {
        engine.Connect("");
        engine.Packet("Please start up\r\n");
        ASSERT_EQ(engine.DialogueState(), upload::Connected);
        host.calls.clear();
    }

    // The port reports every byte it was given as taken and gone, until the engine sends no
    // more.
    void DrainAll()
    {
        do {
            const std::uint64_t pending = host.sent.size() - host.reported;
            host.reported = host.sent.size();
            engine.SendProgress(pending, 0, true);
        } while (host.reported != host.sent.size());
    }

    // A unit greeted and sent a small file: the unit is to report its programming.
    void Transferred(const std::string& bytes = "x\r\n")
    {
        Greet();
        engine.Transfer(File(bytes));
        DrainAll();
        ASSERT_EQ(engine.DialogueState(), upload::AwaitingProgramResult);
        host.calls.clear();
    }

    RecordingHost host;
    UploadEngine engine{host};
};

} // namespace engine_test
