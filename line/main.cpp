// The production line's entry point: the command line, then the line in its folder, its
// window, and the message loop until the window closes.
#include "Version.h"
#include "line/core/Line.h"
#include "line/window/LineCommandLine.h"
#include "line/window/LineWindow.h"
#include "platform/Application.h"
#include "platform/ConsoleOutput.h"
#include "platform/QuitSignals.h"

#include <QDir>
#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    const line::LineCommandLine answer = line::ParseLineCommandLine({argv + 1, argv + argc});
    if (!answer.openWindow) {
        std::fputs(answer.err.c_str(), stderr);
        const int written = WriteAnswer("orvix-line", answer.out);
        return answer.exitStatus ? answer.exitStatus : written;
    }
    if (!QDir(QString::fromStdString(answer.folder)).exists()) {
        std::fprintf(stderr, "orvix-line: no such folder: %s\n", answer.folder.c_str());
        return 2;
    }

    try {
        TApplication application(argc, argv);
        application.SetTitle("Orvix-500 Production Line");
        application.setApplicationVersion(kOrvixVersion);
        application.setDesktopFileName(kOrvixLineAppId);
        const std::string folder =
            QDir(QString::fromStdString(answer.folder)).absolutePath().toStdString();
        line::Line productionLine(folder, answer.stations);
        auto window = std::make_unique<line::LineWindow>(productionLine);
        // A logout, a shutdown or Ctrl-C ends the line as closing its window does: every
        // transfer running is cancelled and recorded.
        QuitSignals quitSignals([&window](int) {
            if (window)
                window->close();
        });
        window->show();
        // Hands-free: every station bound to a socket waits for its unit at once.
        productionLine.StartAll();
        application.exec();
        window.reset();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvix-line: %s\n", e.what());
        return 1;
    }
    return 0;
}
