// The station's side of the engine's calls: the port, the texts, the progress and the record.
#include "line/station/Station.h"
#include "platform/PortAdvice.h"

#include <algorithm>

namespace line {

StationView Station::View() const
{
    StationView view = view_;
    if (running_) {
        const std::uint8_t state = engine_->DialogueState();
        if (engine_->Transferring())
            view.phase = StationPhase::Programming;
        else if (state == upload::AwaitingProgramResult || state == upload::AwaitingCrcResult)
            view.phase = StationPhase::Verifying;
        else
            view.phase = StationPhase::Waiting;
    }
    if (view.phase == StationPhase::Programming) {
        const double seconds = std::chrono::duration<double>(Now() - transferStart_).count();
        view.bytesPerSecond = seconds > 0 ? double(bytesTaken_) / seconds : 0;
        if (view.held)
            view.holdAge =
                std::chrono::duration_cast<std::chrono::milliseconds>(Now() - heldSince_);
    } else {
        view.held = false;
    }
    return view;
}

std::string Station::Send(const std::string& bytes)
{
    return com_->Send(bytes) ? std::string() : com_->ErrorText;
}

void Station::AbandonSends()
{
    com_->AbandonSends();
}

void Station::Purge()
{
    if (com_->Reader)
        com_->Purge();
}

void Station::ReleaseHold()
{
    com_->ReleaseHold();
}

upload::PortIdentity Station::Port() const
{
    return {settings_.socket, device_, settings_.baud};
}

void Station::Advise(const std::string& errorText)
{
    if (const std::string advice = SerialErrorAdvice(errorText); !advice.empty())
        Log("port help : " + advice);
}

void Station::WakeUpTimer(bool on)
{
    if (on && running_)
        wakeUp_->start();
    else
        wakeUp_->stop();
}

void Station::Status(const std::string& text)
{
    view_.status = text;
}

void Station::Log(const std::string& text)
{
    line_.Log(settings_.name, text);
}

void Station::ProgressMaximum(int maximum)
{
    view_.progressMaximum = std::max(maximum, 1);
    view_.progress = 0;
}

void Station::Progress(int position)
{
    view_.progress = position;
}

void Station::RecordUnit(const upload::UnitRecord& record)
{
    const std::string error = line_.RecordUnit(record, settings_.name, settings_.socket);
    view_.recordError = error;
    ++view_.units;
    if (record.outcome == upload::UnitOutcome::CrcOk)
        ++view_.passed;
    else
        ++view_.failed;
    view_.lastOutcome = record.outcome;
    view_.lastStatus = view_.status;
    const std::string end = upload::IsoTime(record.end);
    // "2026-03-14T09:26:57+01:00": the time of day is what the operator looks for.
    view_.lastUnitTime = end.size() >= 19 ? end.substr(11, 8) : end;
    verdictSeen_ = true;
    AfterEvent();
}

std::chrono::steady_clock::time_point Station::Now() const
{
    return std::chrono::steady_clock::now();
}

LocalTime Station::WallNow() const
{
    return LocalNow();
}

} // namespace line
