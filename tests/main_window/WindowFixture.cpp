#include "tests/main_window/WindowFixture.h"

#include "platform/Application.h"
#include "tests/support/TestApp.h"

#include <QApplication>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace mainwindow {

void WindowTest::SetUp()
{
    testapp::ResetRecorders();
    previousDir = fs::current_path();
    char pattern[] = "/tmp/orvix-window-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir = pattern;
    fs::current_path(dir);
}

void WindowTest::TearDown()
{
    form.reset();
    help.reset();
    fs::current_path(previousDir);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
}

void WindowTest::WriteIni(const std::string& text) const
{
    std::ofstream(dir / "Uploader.ini", std::ios::binary) << text;
}

std::string WindowTest::ReadIni() const
{
    std::ifstream in(dir / "Uploader.ini", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WindowTest::CreateWindows()
{
    form = std::make_unique<TForm1>();
    help = std::make_unique<THelpForm>();
}

void WindowTest::ShowAndActivate()
{
    form->show();
    form->activateWindow();
    ASSERT_TRUE(testapp::ProcessUntil(
        [&] { return QApplication::activeWindow() == form.get() && QApplication::focusWidget(); },
        std::chrono::seconds(10)));
}

std::vector<std::string> WindowTest::LogTexts() const
{
    std::ifstream in(dir / "Orvix500Upload.Log", std::ios::binary);
    std::vector<std::string> texts;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t separator = line.find(" - ");
        texts.push_back(separator == std::string::npos ? line : line.substr(separator + 3));
    }
    return texts;
}

} // namespace mainwindow
