#include "tests/upload_cycle/UnitBench.h"

#include "app/Help.h"
#include "app/Uploader.h"
#include "platform/Application.h"
#include "platform/OpenDialog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

namespace unitbench {

bool ProcessUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return done();
        // The dispatcher's wait has no limit of its own: a timer bounds it.
        QTimer wake;
        wake.setSingleShot(true);
        wake.start(5ms);
        Application->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray WithLineAt(const QByteArray& bytes, int index, const QByteArray& line, bool insert)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (index < 0 || index >= lines.size())
        return bytes;
    const QByteArray end = lines[index].endsWith('\r') ? "\r" : "";
    if (insert)
        lines.insert(index, line + end);
    else
        lines[index] = line + end;
    return lines.join('\n');
}

SimulatedUnit::SimulatedUnit(const QString& simPath, const QStringList& options)
    : simPath_(simPath), previousDir_(QDir::currentPath())
{
    if (!dir_.isValid()) {
        error_ = "no temporary directory";
        return;
    }
    sim_.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&sim_, &QProcess::readyRead, [this] { trace_ += sim_.readAll(); });
    sim_.start(simPath_, QStringList{"--link", Link(), "--report", Path("report.json")} + options);
    if (!sim_.waitForStarted(10000)) {
        error_ = "the simulator did not start: " + sim_.errorString();
        return;
    }
    const bool linked = ProcessUntil(
        [this] { return QFileInfo::exists(Link()) || sim_.state() == QProcess::NotRunning; }, 10s);
    if (!linked || !QFileInfo::exists(Link())) {
        error_ = "the simulator published no link: " + Trace();
        return;
    }
    WriteFile("Uploader.ini",
              "[SystemSection]\r\n[Ports]\r\nCOM2=" + Link().toLocal8Bit() + "\r\n");
    QDir::setCurrent(dir_.path());
}

SimulatedUnit::~SimulatedUnit()
{
    QDir::setCurrent(previousDir_);
    if (sim_.state() != QProcess::NotRunning) {
        sim_.terminate();
        if (!sim_.waitForFinished(5000)) {
            sim_.kill();
            sim_.waitForFinished(5000);
        }
    }
}

QString SimulatedUnit::MakeFirmware(const QString& name, int size, const QStringList& extra)
{
    const QString path = Path(name);
    QProcess maker;
    maker.setProcessChannelMode(QProcess::MergedChannels);
    maker.start(simPath_,
                QStringList{"--make-firmware", path, "--size", QString::number(size)} + extra);
    if (!maker.waitForFinished(20000) || maker.exitCode() != 0 || !QFileInfo::exists(path)) {
        error_ = "no firmware made: " + QString::fromLocal8Bit(maker.readAll());
        return {};
    }
    return path;
}

QString SimulatedUnit::WriteFile(const QString& name, const QByteArray& bytes)
{
    QFile file(Path(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return {};
    return file.fileName();
}

QJsonArray SimulatedUnit::Units() const
{
    QFile file(dir_.filePath("report.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value("units").toArray();
}

bool SimulatedUnit::WaitForUnits(int count, std::chrono::milliseconds timeout)
{
    return ProcessUntil([&] { return Units().size() >= count; }, timeout);
}

QString SimulatedUnit::Trace()
{
    trace_ += sim_.readAll();
    return QString::fromLocal8Bit(trace_);
}

Uploader::Uploader()
{
    form_ = std::make_unique<TForm1>();
    help_ = std::make_unique<THelpForm>();
    QObject::connect(form_->StatusBar1, &QStatusBar::messageChanged,
                     [this](const QString& text) { statusHistory_.push_back(text); });
    form_->show();
    form_->activateWindow();
    ProcessUntil([this] { return form_->isActiveWindow(); }, 5s);
}

Uploader::~Uploader()
{
    form_->close();
    form_.reset();
    help_.reset();
}

AnsiString Uploader::Status() const
{
    return form_->StatusBar1->currentMessage().toLocal8Bit().toStdString();
}

QString Uploader::Terminal() const
{
    return form_->Memo1->toPlainText();
}

QStringList Uploader::LogTexts() const
{
    QFile file("Orvix500Upload.Log");
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList texts;
    for (const QByteArray& line : file.readAll().split('\n')) {
        // "dd-mm-yyyy hh:nn:ss - text", CR LF on disk.
        const int dash = line.indexOf(" - ");
        if (dash >= 0)
            texts.push_back(
                QString::fromLocal8Bit(line.mid(dash + 3)).chopped(line.endsWith('\r') ? 1 : 0));
    }
    return texts;
}

QString Uploader::HelpText() const
{
    return help_->HelpMemo->toPlainText();
}

void Uploader::Click(QWidget* control)
{
    QTest::mouseClick(control, Qt::LeftButton);
}

void Uploader::SelectFile(const QString& path, const std::function<void()>& duringTransfer,
                          std::chrono::milliseconds watchInterval)
{
    TOpenDialog::SetExecuteHook([path](TOpenDialog& dialog) {
        dialog.FileName = path.toLocal8Bit().toStdString();
        return true;
    });
    QTimer watch;
    if (duringTransfer) {
        QObject::connect(&watch, &QTimer::timeout, duringTransfer);
        watch.start(watchInterval);
    }
    Click(form_->bBrowse);
    TOpenDialog::SetExecuteHook({});
    // The click starts the transfer; the engine sends the file while the window handles its
    // messages.
    ProcessUntil([this] { return !form_->Transferring(); }, 300s);
    watch.stop();
}

bool Uploader::WaitForStatus(const QString& text, std::chrono::milliseconds timeout)
{
    return ProcessUntil([&] { return QString::fromStdString(Status()) == text; }, timeout);
}

} // namespace unitbench
