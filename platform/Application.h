// The application object: title, message loop, "handle every waiting message and return",
// the modal exception box, message boxes, and the rule that an exception leaving an event
// handler is shown to the operator while the program goes on.
#pragma once

#include "platform/Exception.h"

#include <QApplication>
#include <functional>

// Button sets and answers of MessageBox, with the values the window code relies on.
enum : int
{
    MB_OK = 0,
    MB_OKCANCEL = 1
};
enum : int
{
    IDOK = 1,
    IDCANCEL = 2
};

class TApplication : public QApplication
{
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    void SetTitle(const AnsiString& title);
    AnsiString Title() const;

    // Handles every window message that is waiting for the window's thread, then returns.
    void ProcessMessages();

    // A modal box with the exception's message, the title as caption, a stop icon and one
    // OK button (or the installed sink, see SetExceptionSink).
    void ShowException(const std::exception& e);

    // A modal box with text, caption and a button set (MB_OK, MB_OKCANCEL); returns the
    // button pressed (IDOK, IDCANCEL).
    int MessageBox(const AnsiString& text, const AnsiString& caption, int flags);

    // Runs an event handler; an exception that leaves it is shown with ShowException and
    // the program goes on. Every handler of the windows is connected through this.
    void HandleEvent(const std::function<void()>& handler);

    // Backstop for handlers that Qt calls directly: an exception that leaves the delivery of
    // an event is shown with ShowException instead of ending the program.
    bool notify(QObject* receiver, QEvent* event) override;

    // Replace the modal boxes, for tests and for unattended runs. An empty callable restores
    // the boxes.
    using ExceptionSink = std::function<void(const AnsiString& message)>;
    using MessageBoxHook =
        std::function<int(const AnsiString& text, const AnsiString& caption, int flags)>;
    void SetExceptionSink(ExceptionSink sink);
    void SetMessageBoxHook(MessageBoxHook hook);

private:
    ExceptionSink exceptionSink_;
    MessageBoxHook messageBoxHook_;
};

// The one application object, set while a TApplication exists.
extern TApplication* Application;
