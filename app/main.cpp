// The uploader's entry point: the answers to --help and --version, then the application object,
// the main window, the hidden help window, and the message loop until the main window closes.
#include "Version.h"
#include "app/CommandLine.h"
#include "app/FormStyle.h"
#include "app/Help.h"
#include "app/Uploader.h"
#include "platform/Application.h"
#include "platform/ConsoleOutput.h"
#include "platform/QuitSignals.h"

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    // Answered before the application object exists: they need no display.
    const CommandLineAnswer answer = AnswerCommandLine({argv + 1, argv + argc});
    if (!answer.openWindow) {
        std::fputs(answer.err.c_str(), stderr);
        const int written = WriteAnswer("orvix-uploader", answer.out);
        return answer.exitStatus ? answer.exitStatus : written;
    }

    std::unique_ptr<TApplication> application;
    try {
        application = std::make_unique<TApplication>(argc, argv);
        application->SetTitle("Tallowmere Orvix-500 Firmware Uploader");
        application->setApplicationVersion(kOrvixVersion);
        // Lets the desktop show the installed menu entry's name and icon for the window.
        application->setDesktopFileName(kOrvixAppId);
        application->setWindowIcon(formstyle::WindowIcon());

        // The main window is the first one created; closing it ends the message loop (the
        // help window does not keep the program running).
        auto mainWindow = std::make_unique<TForm1>();
        auto helpWindow = std::make_unique<THelpForm>();
        // A logout, a shutdown, a service stop or Ctrl-C ends the program as closing the main
        // window does: a transfer running is cancelled, logged and recorded.
        QuitSignals quitSignals([&mainWindow](int) {
            if (mainWindow)
                mainWindow->close();
        });
        mainWindow->show();
        application->exec();
        // The main window goes first: its port and timer stop while both windows exist.
        mainWindow.reset();
        helpWindow.reset();
    } catch (const std::exception& e) {
        if (Application)
            Application->ShowException(e);
        else
            std::fprintf(stderr, "%s\n", e.what());
    }
    return 0;
}
