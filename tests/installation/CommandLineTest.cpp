// The command lines of orvix-uploader, orvix-line and orvix-sim as a shell or a script meets them:
// --help and --version answered on standard output with status 0 and without a display, anything
// else refused with status 2, and an answer that cannot be written reported with status 1.
#include "Version.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString kUploader = QStringLiteral(ORVIX_UPLOADER_PROGRAM);
const QString kSim = QStringLiteral(ORVIX_SIM_PROGRAM);
const QString kLine = QStringLiteral(ORVIX_LINE_PROGRAM);
const std::string kVersion = kOrvixVersion;
const std::string kUploaderUsage = "Usage: orvix-uploader [--help | --version]\n";
const std::string kLineUsage =
    "Usage: orvix-line [--folder DIR] [--stations N] | --help | --version\n";

struct Outcome
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the program with no display of any kind: opening a window would end it with Qt's
// "could not connect to display" abort.
Outcome RunWithoutDisplay(const QString& program, const QStringList& args,
                          const QString& stdoutFile = {})
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(name);
    QProcess p;
    p.setProcessEnvironment(env);
    if (!stdoutFile.isEmpty())
        p.setStandardOutputFile(stdoutFile);
    p.start(program, args);
    Outcome run;
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit) {
        p.kill();
        p.waitForFinished();
        return run;
    }
    run.exitCode = p.exitCode();
    run.out = p.readAllStandardOutput().toStdString();
    run.err = p.readAllStandardError().toStdString();
    return run;
}

struct Answer
{
    const char* program; // "uploader", "line" or "sim"
    QStringList args;
    int exitCode;
    std::string outStart; // what standard output begins with ("": it stays empty)
    std::string err;      // standard error, exactly
};

TEST(CommandLine, AnswersHelpAndVersionAndRefusesEverythingElse)
{
    const std::string simHelpStart =
        "Usage:\n  orvix-sim (--link PATH | --device PATH) [options]\n";
    const Answer answers[] = {
        {"uploader", {"--version"}, 0, "orvix-uploader " + kVersion + "\n", ""},
        {"uploader", {"--help"}, 0, kUploaderUsage, ""},
        {"uploader", {"-h"}, 0, kUploaderUsage, ""},
        {"uploader", {"--help", "--bogus"}, 0, kUploaderUsage, ""}, // the first one decides
        {"uploader",
         {"--verbose"},
         2,
         "",
         "orvix-uploader: unknown option: --verbose\n" + kUploaderUsage},
        // Qt's own options are no exception: the window takes no arguments at all.
        {"uploader",
         {"-platform", "offscreen"},
         2,
         "",
         "orvix-uploader: unknown option: -platform\n" + kUploaderUsage},
        {"uploader",
         {"firmware.out"},
         2,
         "",
         "orvix-uploader: takes no arguments: firmware.out\n" + kUploaderUsage},
        {"uploader", {"-"}, 2, "", "orvix-uploader: takes no arguments: -\n" + kUploaderUsage},
        {"uploader", {""}, 2, "", "orvix-uploader: takes no arguments: \n" + kUploaderUsage},
        {"line", {"--version"}, 0, "orvix-line " + kVersion + "\n", ""},
        {"line", {"--help"}, 0, kLineUsage, ""},
        {"line", {"--stations", "4", "--help"}, 0, kLineUsage, ""},
        {"line",
         {"--stations", "17"},
         2,
         "",
         "orvix-line: --stations wants a number of 1 to 16, not 17\n" + kLineUsage},
        {"line", {"--stations"}, 2, "", "orvix-line: --stations needs a value\n" + kLineUsage},
        {"line", {"--bogus"}, 2, "", "orvix-line: unknown option: --bogus\n" + kLineUsage},
        {"line",
         {"firmware.out"},
         2,
         "",
         "orvix-line: takes no arguments: firmware.out\n" + kLineUsage},
        {"line",
         {"--folder", "/nonexistent/line3"},
         2,
         "",
         "orvix-line: no such folder: /nonexistent/line3\n"},
        {"sim", {"--version"}, 0, "orvix-sim " + kVersion + "\n", ""},
        {"sim", {"--help"}, 0, simHelpStart, ""},
        {"sim", {"-h"}, 0, simHelpStart, ""},
        {"sim", {"--versions"}, 2, "", "orvix-sim: unknown option: --versions\n(try --help)\n"},
    };
    for (const Answer& a : answers) {
        const std::string name = a.program;
        const std::string what = name + " " + a.args.join(' ').toStdString();
        const Outcome run = RunWithoutDisplay(
            name == "uploader" ? kUploader : (name == "line" ? kLine : kSim), a.args);
        EXPECT_EQ(run.exitCode, a.exitCode) << what << "\n" << run.err;
        EXPECT_EQ(run.err, a.err) << what;
        // An empty start: standard output stays empty.
        EXPECT_EQ(run.out.substr(0, a.outStart.empty() ? std::string::npos : a.outStart.size()),
                  a.outStart)
            << what;
    }
}

TEST(CommandLine, HelpNamesTheVersionTheFilesAndTheManualPage)
{
    const Outcome uploader = RunWithoutDisplay(kUploader, {"--help"});
    for (const std::string& text :
         {"Firmware Uploader " + kVersion, std::string("Uploader.ini"), std::string("[Ports]"),
          std::string("Orvix500Upload.Log"), std::string("orvix-uploader(1)")})
        EXPECT_NE(uploader.out.find(text), std::string::npos) << text;
    const Outcome line = RunWithoutDisplay(kLine, {"--help"});
    for (const std::string& text : {"Production Line " + kVersion, std::string("OrvixLine.ini"),
                                    std::string("Orvix500Units.csv"),
                                    std::string("Orvix500Line.Log"), std::string("orvix-line(1)")})
        EXPECT_NE(line.out.find(text), std::string::npos) << text;
    const Outcome sim = RunWithoutDisplay(kSim, {"--help"});
    for (const std::string& text : {"orvix-sim " + kVersion + ":", std::string("--make-firmware"),
                                    std::string("Exit status:"), std::string("orvix-sim(1)")})
        EXPECT_NE(sim.out.find(text), std::string::npos) << text;
}

TEST(CommandLine, AnAnswerThatCannotBeWrittenEndsWithStatus1)
{
    ASSERT_TRUE(QFile::exists("/dev/full"));
    const struct
    {
        QString program;
        QStringList args;
        std::string err;
    } cases[] = {
        {kUploader, {"--version"}, "orvix-uploader: cannot write standard output: "},
        {kUploader, {"--help"}, "orvix-uploader: cannot write standard output: "},
        {kLine, {"--version"}, "orvix-line: cannot write standard output: "},
        {kSim, {"--version"}, "orvix-sim: cannot write standard output: "},
        {kSim, {"--help"}, "orvix-sim: cannot write standard output: "},
    };
    for (const auto& c : cases) {
        const Outcome run = RunWithoutDisplay(c.program, c.args, "/dev/full");
        EXPECT_EQ(run.exitCode, 1) << c.args.join(' ').toStdString();
        EXPECT_EQ(run.err.substr(0, c.err.size()), c.err);
        EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
    }
}

TEST(CommandLine, WithoutArgumentsTheUploaderOpensItsWindowInTheCurrentFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A port that does not exist, so that nothing is sent on a real serial line.
    QFile ini(dir.filePath("Uploader.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(QString("[Ports]\r\nCOM2=%1\r\n").arg(dir.filePath("no-port")).toUtf8());
    ini.close();

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.path());
    p.start(kUploader, {});
    ASSERT_TRUE(p.waitForStarted(10000));
    QFile log(dir.filePath("Orvix500Upload.Log"));
    QByteArray text;
    for (int i = 0; i < 300 && !text.contains("no-port: "); ++i) {
        if (p.waitForFinished(100))
            break;
        if (log.open(QIODevice::ReadOnly)) {
            text = log.readAll();
            log.close();
        }
    }
    EXPECT_EQ(p.state(), QProcess::Running) << p.readAllStandardError().toStdString();
    EXPECT_TRUE(text.contains("initialization : ini file : ")) << text.toStdString();
    EXPECT_TRUE(text.contains("no-port: No such file or directory")) << text.toStdString();
    p.kill();
    p.waitForFinished();
}

} // namespace
