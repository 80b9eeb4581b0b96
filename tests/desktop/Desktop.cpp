#include "tests/desktop/Desktop.h"

#include "tests/upload_cycle/UnitBench.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <csignal>

namespace desktop {

using unitbench::ProcessUntil;

namespace {

// openbox's settings; what they leave out keeps openbox's defaults.
QByteArray OpenboxConfig(bool focusNew)
{
    return QByteArray("<?xml version=\"1.0\"?>\n"
                      "<openbox_config xmlns=\"http://openbox.org/3.4/rc\">\n"
                      "  <focus><focusNew>") +
           (focusNew ? "yes" : "no") +
           "</focusNew><followMouse>no</followMouse></focus>\n"
           "</openbox_config>\n";
}

// `text` as a POSIX extended regular expression that matches it literally (xdotool's --name).
QString LiteralPattern(const QString& text)
{
    QString pattern;
    for (const QChar c : text) {
        if (QStringLiteral(".[]()*+?{}|^$\\").contains(c))
            pattern += '\\';
        pattern += c;
    }
    return pattern;
}

} // namespace

VirtualDisplay::VirtualDisplay(WindowManager manager)
{
    // -displayfd: the server takes the first free display number and writes it to stdout.
    server_.start(
        "Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"});
    if (!server_.waitForStarted(10000)) {
        error_ = "Xvfb did not start: " + server_.errorString();
        return;
    }
    QByteArray number;
    ProcessUntil(
        [&] {
            number += server_.readAllStandardOutput();
            return number.contains('\n') || server_.state() == QProcess::NotRunning;
        },
        20s);
    if (!number.contains('\n')) {
        error_ = "Xvfb gave no display number: " + QString::fromLocal8Bit(server_.readAll());
        return;
    }
    display_ = ":" + QString::fromLatin1(number.trimmed());
    if (manager == WindowManager::None)
        return;

    const QString config = configDir_.filePath("rc.xml");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(OpenboxConfig(manager == WindowManager::Openbox)) < 0) {
        error_ = "no openbox configuration";
        return;
    }
    file.close();
    QProcessEnvironment env = Environment();
    env.insert("HOME", configDir_.path());
    env.insert("XDG_CONFIG_HOME", configDir_.path());
    manager_.setProcessEnvironment(env);
    manager_.setProcessChannelMode(QProcess::MergedChannels);
    manager_.start("openbox", {"--config-file", config, "--sm-disable"});
    if (!manager_.waitForStarted(10000)) {
        error_ = "openbox did not start: " + manager_.errorString();
        return;
    }
    bool managed = false;
    ProcessUntil(
        [&] {
            Run("wmctrl", {"-m"}, &managed);
            return managed || manager_.state() == QProcess::NotRunning;
        },
        20s);
    if (!managed)
        error_ =
            "openbox is not managing the display: " + QString::fromLocal8Bit(manager_.readAll());
}

VirtualDisplay::~VirtualDisplay()
{
    for (QProcess* process : {&manager_, &server_}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
}

QProcessEnvironment VirtualDisplay::Environment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display_);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.remove("WAYLAND_DISPLAY");
    env.remove("XAUTHORITY");
    return env;
}

QString VirtualDisplay::Run(const QString& program, const QStringList& arguments, bool* ok) const
{
    QProcess tool;
    tool.setProcessEnvironment(Environment());
    tool.start(program, arguments);
    const bool ended = tool.waitForStarted(10000) && tool.waitForFinished(10000);
    if (!ended) {
        tool.kill();
        tool.waitForFinished(5000);
    }
    if (ok)
        *ok = ended && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}

QString VirtualDisplay::FindWindow(const QString& title, bool prefix,
                                   std::chrono::milliseconds timeout) const
{
    QString id;
    ProcessUntil(
        [&] {
            id = Run("xdotool", {"search", "--onlyvisible", "--name",
                                 "^" + LiteralPattern(title) + (prefix ? "" : "$")})
                     .section('\n', 0, 0);
            return !id.isEmpty();
        },
        timeout);
    return id;
}

QString VirtualDisplay::WindowTitle(const QString& window) const
{
    return Run("xdotool", {"getwindowname", window});
}

QString VirtualDisplay::ActiveWindow() const
{
    return Run("xdotool", {"getactivewindow"});
}

bool VirtualDisplay::Click(const QString& window, int x, int y) const
{
    bool ok = false;
    Run("xdotool",
        {"mousemove", "--window", window, QString::number(x), QString::number(y), "click", "1"},
        &ok);
    return ok;
}

bool VirtualDisplay::Key(const QString& key) const
{
    bool ok = false;
    Run("xdotool", {"key", key}, &ok);
    return ok;
}

bool VirtualDisplay::Close(const QString& window) const
{
    bool ok = false;
    Run("wmctrl", {"-i", "-c", window}, &ok);
    return ok;
}

UploaderProcess::UploaderProcess(const VirtualDisplay& display, const QString& workingDir,
                                 const QString& user)
    : dir_(workingDir)
{
    process_.setProcessEnvironment(display.Environment());
    process_.setWorkingDirectory(workingDir);
    process_.setProcessChannelMode(QProcess::MergedChannels);
    if (user.isEmpty())
        process_.start(ORVIX_UPLOADER_PATH, QStringList{});
    else
        process_.start("runuser", {"-u", user, "--", ORVIX_UPLOADER_PATH});
    process_.waitForStarted(10000);
}

UploaderProcess::~UploaderProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
}

bool UploaderProcess::WaitForExit(std::chrono::milliseconds timeout)
{
    return ProcessUntil([this] { return !Running(); }, timeout);
}

QImage VirtualDisplay::Picture(const QString& window) const
{
    QTemporaryDir dir;
    const QString file = dir.filePath("window.png");
    bool ok = false;
    Run("import", {"-window", window, file}, &ok);
    return ok ? QImage(file) : QImage();
}

bool UploaderProcess::Signal(int signal) const
{
    return Running() && ::kill(pid_t(process_.processId()), signal) == 0;
}

QStringList UploaderProcess::LogTexts() const
{
    QFile file(QDir(dir_).filePath("Orvix500Upload.Log"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList texts;
    for (QByteArray line : file.readAll().split('\n')) {
        // "dd-mm-yyyy hh:nn:ss - text", CR LF on disk.
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype dash = line.indexOf(" - ");
        if (dash >= 0)
            texts.push_back(QString::fromLocal8Bit(line.mid(dash + 3)));
    }
    return texts;
}

bool UploaderProcess::WaitForLog(const QString& text, std::chrono::milliseconds timeout, int count)
{
    return ProcessUntil([&] { return LogTexts().count(text) >= count; }, timeout);
}

QString UploaderProcess::Output()
{
    output_ += process_.readAll();
    return QString::fromLocal8Bit(output_);
}

} // namespace desktop
