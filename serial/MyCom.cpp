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
        // Computed in floating point, truncated, and kept to the record's 16 bits (a BufSize
        // of 100000 gives an XoffLim of 90000 & 0xFFFF = 24464).
        state.XonLim = static_cast<std::uint16_t>(static_cast<std::uint64_t>(FBufSize * 0.1));
        state.XoffLim = static_cast<std::uint16_t>(static_cast<std::uint64_t>(FBufSize * 0.9));
        state.fOutxDsrFlow = false;
        state.fOutxCtsFlow = false;
        state.fDtrControl = 1;
        state.fRtsControl = 1;
        state.fInX = false;
        state.fOutX = true;
        state.XonChar = 0x11;
        state.XoffChar = 0x13;
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
