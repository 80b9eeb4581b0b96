#include "tests/support/TestApp.h"

#include "platform/Application.h"

#include <QThread>

namespace testapp {

std::vector<AnsiString>& ShownExceptions()
{
    static std::vector<AnsiString> shown;
    return shown;
}

std::vector<MessageBoxCall>& MessageBoxCalls()
{
    static std::vector<MessageBoxCall> calls;
    return calls;
}

int& NextMessageBoxAnswer()
{
    static int answer = IDOK;
    return answer;
}

void ResetRecorders()
{
    ShownExceptions().clear();
    MessageBoxCalls().clear();
    NextMessageBoxAnswer() = IDOK;
}

bool ProcessUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        Application->processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void ProcessFor(std::chrono::milliseconds duration)
{
    ProcessUntil([] { return false; }, duration);
}

} // namespace testapp
