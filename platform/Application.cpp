#include "platform/Application.h"

#include <QMessageBox>
#include <cstdio>

TApplication* Application = nullptr;

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    Application = this;
}

TApplication::~TApplication()
{
    if (Application == this)
        Application = nullptr;
}

void TApplication::SetTitle(const AnsiString& title)
{
    // Only the name: a display name would be appended to every window's caption on X11
    // ("Help — ..."), while each window carries its own caption.
    setApplicationName(QString::fromLocal8Bit(title.data(), qsizetype(title.size())));
}

AnsiString TApplication::Title() const
{
    return applicationName().toLocal8Bit().toStdString();
}

void TApplication::ProcessMessages()
{
    processEvents(QEventLoop::AllEvents);
}

void TApplication::ShowException(const std::exception& e)
{
    const AnsiString message = e.what();
    if (exceptionSink_) {
        exceptionSink_(message);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QString::fromStdString(Title()),
                    QString::fromLocal8Bit(message.data(), qsizetype(message.size())),
                    QMessageBox::Ok);
    box.exec();
}

int TApplication::MessageBox(const AnsiString& text, const AnsiString& caption, int flags)
{
    if (messageBoxHook_)
        return messageBoxHook_(text, caption, flags);
    const auto buttons =
        flags == MB_OKCANCEL ? (QMessageBox::Ok | QMessageBox::Cancel) : QMessageBox::Ok;
    QMessageBox box(QMessageBox::NoIcon, QString::fromLocal8Bit(caption.c_str()),
                    QString::fromLocal8Bit(text.c_str()), buttons);
    return box.exec() == QMessageBox::Cancel ? IDCANCEL : IDOK;
}

void TApplication::HandleEvent(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        ShowException(e);
    }
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e);
    }
    return false;
}

void TApplication::SetExceptionSink(ExceptionSink sink)
{
    exceptionSink_ = std::move(sink);
}

void TApplication::SetMessageBoxHook(MessageBoxHook hook)
{
    messageBoxHook_ = std::move(hook);
}
