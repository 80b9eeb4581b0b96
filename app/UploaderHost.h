// The main window as the upload engine's host: what the engine answers (bytes to send, texts
// to show and log, the page, the controls, the progress, the lamp) carried out on the
// window's controls and components.
#pragma once

#include "upload/EngineHost.h"

class TForm1;

class TForm1Host : public upload::EngineHost
{
public:
    explicit TForm1Host(TForm1& form) : form_(form) {}

    std::string Send(const std::string& bytes) override;
    void AbandonSends() override;
    void Purge() override;
    void ReleaseHold() override;
    upload::PortIdentity Port() const override;
    void Advise(const std::string& errorText) override;
    void WakeUpTimer(bool on) override;
    void Status(const std::string& text) override;
    void Log(const std::string& text) override;
    void Terminal(const std::string& text, bool atOnce) override;
    void FlushTerminal() override;
    void ShowPage(upload::Page page) override;
    void BrowseEnabled(bool on) override;
    void ProgressMaximum(int maximum) override;
    void Progress(int position) override;
    void XoffLamp(bool lit) override;
    std::string HelpText() const override;
    void SetHelpText(const std::string& text) override;
    void HighPriority(bool on) override;
    bool AddCr() const override;
    bool SingleStep() const override;
    void AskStep() override;
    void RecordUnit(const upload::UnitRecord& record) override;
    std::chrono::steady_clock::time_point Now() const override;
    LocalTime WallNow() const override;

private:
    TForm1& form_;
    int maximum_ = 0;
};
