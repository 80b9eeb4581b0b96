// A virtual desktop for tests of the real program: an X server of its own (Xvfb, on a display
// number it picks itself), optionally a window manager (openbox), the uploader started as a
// process on it, and xdotool and wmctrl to find, click and close its windows.
#pragma once

#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>

namespace desktop {

using namespace std::chrono_literals;

class VirtualDisplay
{
public:
    enum class WindowManager
    {
        None,
        // openbox as installed: a new window gets the focus.
        Openbox,
        // openbox that never gives a new window the focus (as focus-stealing prevention does
        // for a program started from a terminal): the window is shown but not active.
        OpenboxNoFocusNew,
    };
    explicit VirtualDisplay(WindowManager manager);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    // Empty when the server (and the window manager) run; what went wrong otherwise.
    QString Error() const { return error_; }
    // The environment of a program shown on this display.
    QProcessEnvironment Environment() const;

    // Runs an X client tool (xdotool, wmctrl) on this display; its standard output, trimmed.
    // `ok` (when given) tells whether it ran and ended with status 0.
    QString Run(const QString& program, const QStringList& arguments, bool* ok = nullptr) const;

    // The id of the visible window whose whole title is `title` (or, with `prefix`, whose
    // title begins with it), once it exists; empty after the timeout.
    QString FindWindow(const QString& title, bool prefix = false,
                       std::chrono::milliseconds timeout = 20s) const;
    // A window's title as the window manager shows it.
    QString WindowTitle(const QString& window) const;
    // The window that has the input focus, as the window manager reports it (empty without one).
    QString ActiveWindow() const;
    // Presses and releases the left mouse button at a place of a window (window coordinates).
    bool Click(const QString& window, int x, int y) const;
    // Types a key (xdotool's key names) into the window with the input focus.
    bool Key(const QString& key) const;
    // Asks the window manager to close a window, as its title bar's close button does.
    bool Close(const QString& window) const;
    // A picture of a window as the screen shows it (empty when it cannot be taken).
    QImage Picture(const QString& window) const;

private:
    QProcess server_;
    QProcess manager_;
    QTemporaryDir configDir_;
    QString display_;
    QString error_;
};

// The uploader program started on a display in a working directory.
class UploaderProcess
{
public:
    // `user`: run as this user (through runuser, which needs root), else as the caller.
    UploaderProcess(const VirtualDisplay& display, const QString& workingDir,
                    const QString& user = {});
    ~UploaderProcess();
    UploaderProcess(const UploaderProcess&) = delete;
    UploaderProcess& operator=(const UploaderProcess&) = delete;

    bool Running() const { return process_.state() != QProcess::NotRunning; }
    // Waits until the process has ended.
    bool WaitForExit(std::chrono::milliseconds timeout);
    // Sends the process a signal (SIGTERM, as a logout or a service stop does).
    bool Signal(int signal) const;
    bool Crashed() const { return process_.exitStatus() == QProcess::CrashExit; }
    // The texts of the log file's lines (after their time stamps), oldest first.
    QStringList LogTexts() const;
    // Waits until the log holds `text` as a line at least `count` times.
    bool WaitForLog(const QString& text, std::chrono::milliseconds timeout = 20s, int count = 1);
    // What the program wrote on its standard output and error.
    QString Output();

private:
    QString dir_;
    QProcess process_;
    QByteArray output_;
};

} // namespace desktop
