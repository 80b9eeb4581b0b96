// The uploader's entry point: the application object, the main window, the hidden help
// window, and the message loop until the main window closes.
#include "app/FormStyle.h"
#include "app/Help.h"
#include "app/Uploader.h"
#include "platform/Application.h"

#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    std::unique_ptr<TApplication> application;
    try {
        application = std::make_unique<TApplication>(argc, argv);
        application->SetTitle("Tallowmere Orvix-500 Firmware Uploader");
        application->setWindowIcon(formstyle::WindowIcon());

        // The main window is the first one created; closing it ends the message loop (the
        // help window does not keep the program running).
        auto mainWindow = std::make_unique<TForm1>();
        auto helpWindow = std::make_unique<THelpForm>();
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
