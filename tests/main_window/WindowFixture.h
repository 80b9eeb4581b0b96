// What the main-window tests share: a fresh current directory per test (the window reads
// Uploader.ini and writes Orvix500Upload.Log there), the two windows built as the entry
// point builds them, and readers of the log file.
#pragma once

#include "app/Help.h"
#include "app/Uploader.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace mainwindow {

class WindowTest : public testing::Test
{
protected:
    // Makes and enters a fresh directory; writes `ini` as its Uploader.ini unless null.
    void SetUp() override;
    void TearDown() override;

    void WriteIni(const std::string& text) const;
    std::string ReadIni() const;
    // Creates the main window, then the hidden help window.
    void CreateWindows();
    // Shows the main window and waits until it is the active window with a focused control.
    void ShowAndActivate();
    // The texts of the log file's lines (time stamp and separator removed).
    std::vector<std::string> LogTexts() const;

    std::filesystem::path dir;
    std::filesystem::path previousDir;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<THelpForm> help;
};

} // namespace mainwindow
