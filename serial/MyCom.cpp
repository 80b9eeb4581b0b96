#include "serial/MyCom.h"

TMyCom::TMyCom(QObject* Owner) : TAdvancedCom(Owner) {}

TMyCom::~TMyCom() = default;

void TMyCom::ComInit()
{
    TComThread::ComInit();
    SetXonXoff(FXonXoff);
}

void TMyCom::SetXonXoff(bool on)
{
    FXonXoff = on;
    if (on) {
        SerialState state;
        if (!PortHandle || !PortHandle->GetState(state))
            return; // closed: the next ComInit applies it
        if (!StateSaved) {
            SavedState = state;
            StateSaved = true;
        }
        state.BaudRate = FBaud;
        SetXonXoffOutput(state, FBufSize);
        (void)PortHandle->SetState(state);
    } else if (StateSaved) {
        if (PortHandle)
            (void)PortHandle->SetState(SavedState);
        StateSaved = false;
    }
}

void TMyCom::QueryDriver()
{
    if (!PortHandle)
        return;
    std::uint32_t errors = 0;
    SerialStatus status;
    if (PortHandle->ClearError(&errors, &status)) {
        Errors = errors;
        ComStat = status;
    }
}

std::uint32_t TMyCom::GetErrors()
{
    QueryDriver();
    return Errors;
}

SerialStatus TMyCom::GetStatus()
{
    QueryDriver();
    return ComStat;
}
