// The main window as built from its form: size, pages, every control's settings, captions
// that fit, resizing, the help window, always-on-top, exceptions from handlers, closing.
#include "components/QuickLogFile.h"
#include "components/ThdTimer.h"
#include "platform/Application.h"
#include "platform/OpenDialog.h"
#include "tests/main_window/WindowFixture.h"
#include "tests/support/TestApp.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <filesystem>

namespace mainwindow {
namespace {

class MainWindow : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        // Ports that do not exist: no test here touches a device of the machine.
        WriteIni("[Ports]\nCOM1=" + (dir / "none1").string() +
                 "\nCOM2=" + (dir / "none2").string() + "\n");
        CreateWindows();
    }
};

TEST_F(MainWindow, OpensAtItsSizeWithTitleIconAndTwoPages)
{
    EXPECT_EQ(form->size(), QSize(224, 225));
    EXPECT_EQ(form->pos(), QPoint(254, 98));
    EXPECT_EQ(form->minimumSize(), QSize(200, 225));
    EXPECT_EQ(form->windowTitle(), "Tallowmere Orvix-500 Firmware Uploader");
    EXPECT_EQ(form->windowIcon().pixmap(32, 32).size(), QSize(32, 32));
    ASSERT_EQ(form->PageControl1->count(), 2);
    EXPECT_EQ(form->PageControl1->tabText(0), "Comm Setup");
    EXPECT_EQ(form->PageControl1->tabText(1), "Upload");
    EXPECT_EQ(form->PageControl1->currentWidget(), form->CommSheet);
    EXPECT_EQ(form->PageControl1->widget(0), form->CommSheet);
    EXPECT_EQ(form->PageControl1->widget(1), form->UploadSheet);
    EXPECT_FALSE(help->isVisible());
    EXPECT_EQ(HelpForm, help.get());
    EXPECT_EQ(Form1, form.get());
}

struct ControlCase
{
    const char* name;
    const char* parent;
    QRect geometry; // empty: placed by the window's layout, checked elsewhere
    const char* text;
    bool shown;
    bool enabled;
    const char* hint;
};

TEST_F(MainWindow, ControlsHaveTheirNamesParentsTextsAndStates)
{
    const std::vector<ControlCase> controls = {
        {"Label1", "CommSheet", {8, 0, 22, 15}, "Port", true, true, ""},
        {"Label2", "CommSheet", {96, 0, 24, 15}, "Rate", true, true, ""},
        {"cbComPort", "CommSheet", {8, 16, 57, 21}, "COM2", true, true, ""},
        {"cbBaudRate", "CommSheet", {96, 16, 65, 21}, "115200", true, true, ""},
        {"ckbAddLF", "CommSheet", {}, "Add CR before LF", false, true, ""},
        {"ckbXonXoff", "CommSheet", {}, "Use Xon/Xoff", false, true, ""},
        {"Panel3", "CommSheet", {}, "", true, true, ""},
        {"cAlwaysOnTop", "CommSheet", {}, "Always On Top", true, true, ""},
        {"bDisplayHelp", "CommSheet", {0, 88, 97, 17}, "Display Help", true, true, ""},
        {"ConnectButton",
         "CommSheet",
         {62, 56, 75, 25},
         "Connect",
         true,
         true,
         "Establish connection to Orvix"},
        {"XoffLabel", "UploadSheet", {}, "XOFF", true, false, ""},
        {"ProgressBar1", "UploadSheet", {}, "", true, true, ""},
        {"ckbSingleStep", "UploadSheet", {0, 0, 97, 17}, "Single Step", false, true, ""},
        {"Panel2", "UploadSheet", {}, "", true, true, ""},
        {"bBrowse",
         "Panel2",
         {6, 8, 75, 25},
         "Select File",
         true,
         false,
         "Select the file to be sent"},
        {"bCancel", "Panel2", {102, 8, 75, 25}, "Cancel", true, true, "Cancel transfer"},
        {"Panel1", "TForm1", {0, 137, 224, 69}, "", true, true, ""},
        {"Memo1", "Panel1", {1, 1, 222, 67}, "", true, true, ""},
        {"StatusBar1", "TForm1", {0, 206, 224, 19}, "", true, true, ""},
        {"PageControl1", "TForm1", {0, 0, 224, 137}, "", true, true, ""},
    };
    form->PageControl1->setCurrentWidget(form->UploadSheet);
    form->PageControl1->setCurrentWidget(form->CommSheet);
    for (const ControlCase& c : controls) {
        SCOPED_TRACE(c.name);
        auto* control = form->findChild<QWidget*>(c.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->parentWidget()->objectName(), c.parent);
        if (!c.geometry.isEmpty()) {
            EXPECT_EQ(control->geometry(), c.geometry);
        }
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(control))
            text = b->text();
        else if (auto* l = qobject_cast<QLabel*>(control))
            text = l->text();
        else if (auto* cb = qobject_cast<QComboBox*>(control))
            text = cb->currentText();
        EXPECT_EQ(text, c.text);
        EXPECT_EQ(control->isVisibleTo(control->parentWidget()), c.shown);
        EXPECT_EQ(control->isEnabled(), c.enabled);
        EXPECT_EQ(control->toolTip(), c.hint);
    }

    // Check boxes: only "Use Xon/Xoff" starts checked.
    EXPECT_TRUE(form->ckbXonXoff->isChecked());
    for (QCheckBox* box :
         {form->ckbAddLF, form->ckbSingleStep, form->cAlwaysOnTop, form->bDisplayHelp})
        EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();

    // The two editable lists.
    const auto items = [](QComboBox* box) {
        QStringList list;
        for (int i = 0; i < box->count(); ++i)
            list << box->itemText(i);
        return list;
    };
    EXPECT_TRUE(form->cbComPort->isEditable());
    EXPECT_TRUE(form->cbBaudRate->isEditable());
    EXPECT_EQ(items(form->cbComPort), QStringList({"COM1", "COM2", "COM3", "COM4"}));
    EXPECT_EQ(items(form->cbBaudRate), QStringList({"9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(form->cbComPort->currentIndex(), 1);

    // The terminal pane, the progress bar and the status bar.
    EXPECT_TRUE(form->Memo1->isReadOnly());
    EXPECT_EQ(form->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(form->Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    // No unit's text yet; the port named has no device, and the pane says what to do about it.
    const QString pane = form->Memo1->toPlainText().trimmed();
    EXPECT_TRUE(pane.startsWith("[") && pane.endsWith("]")) << pane.toStdString();
    EXPECT_TRUE(pane.contains("none2 does not exist")) << pane.toStdString();
    EXPECT_EQ(form->ProgressBar1->minimum(), 0);
    EXPECT_EQ(form->ProgressBar1->maximum(), 1);

    // The labels' serif face and the window's sans-serif face, at their pixel heights.
    EXPECT_EQ(form->Label1->font().pixelSize(), 13);
    EXPECT_EQ(form->Label1->font().styleHint(), QFont::Serif);
    EXPECT_EQ(form->font().pixelSize(), 11);

    // Non-visual components with the form's settings.
    EXPECT_EQ(form->LogFile->LogFileName, "Orvix500Upload.Log");
    EXPECT_EQ(form->OpenDialog1->Filter, "Out Files (*.out)|*.out|All (*.*)|*.*");
    EXPECT_EQ(form->OpenDialog1->QtNameFilters(), QStringList({"Out Files (*.out)", "All (*)"}));
    EXPECT_TRUE(form->ThreadedTimer1->Enabled());
    EXPECT_EQ(form->DialogueState(), 0);
    EXPECT_FALSE(form->CancelRequest());
    EXPECT_FALSE(form->XoffShown());
}

TEST_F(MainWindow, TabOrderFollowsTheForm)
{
    const std::vector<QWidget*> order = {
        form->cbComPort,    form->cbBaudRate,   form->ckbAddLF,      form->ckbXonXoff,
        form->cAlwaysOnTop, form->bDisplayHelp, form->ConnectButton, form->ckbSingleStep,
        form->bBrowse,      form->bCancel,      form->Memo1};
    std::vector<QWidget*> chain;
    QWidget* w = form->cbComPort;
    do {
        if (std::find(order.begin(), order.end(), w) != order.end())
            chain.push_back(w);
        w = w->nextInFocusChain();
    } while (w != form->cbComPort && chain.size() < order.size());
    EXPECT_EQ(chain, order);
}

TEST_F(MainWindow, EveryCaptionIsFullyVisible)
{
    ShowAndActivate();
    for (QWidget* page : {form->CommSheet, form->UploadSheet}) {
        form->PageControl1->setCurrentWidget(page);
        testapp::ProcessFor(std::chrono::milliseconds(20));
        for (QWidget* control : page->findChildren<QWidget*>()) {
            if (!control->isVisible())
                continue;
            SCOPED_TRACE(control->objectName().toStdString());
            QRect room; // where the caption is drawn
            QString text;
            if (auto* box = qobject_cast<QCheckBox*>(control)) {
                QStyleOptionButton option;
                option.initFrom(box);
                option.text = box->text();
                room = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
                text = box->text();
                const int indicator =
                    box->style()->pixelMetric(QStyle::PM_IndicatorHeight, &option, box);
                EXPECT_LE(indicator, box->height());
            } else if (auto* button = qobject_cast<QPushButton*>(control)) {
                QStyleOptionButton option;
                option.initFrom(button);
                option.text = button->text();
                room =
                    button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
                text = button->text();
            } else if (auto* label = qobject_cast<QLabel*>(control)) {
                room = label->contentsRect();
                text = label->text();
            } else {
                continue;
            }
            const QFontMetrics metrics = control->fontMetrics();
            EXPECT_LE(metrics.horizontalAdvance(text), room.width());
            EXPECT_LE(metrics.tightBoundingRect(text).height(), room.height());
            // Inside its page.
            const QRect onPage(control->mapTo(page, QPoint(0, 0)), control->size());
            EXPECT_TRUE(page->rect().contains(onPage)) << onPage.x() << "," << onPage.y() << " in "
                                                       << page->width() << "x" << page->height();
        }
    }
    // Both tabs' captions fit the tab bar.
    QTabBar* bar = form->PageControl1->tabBar();
    for (int i = 0; i < bar->count(); ++i)
        EXPECT_LE(bar->tabRect(i).right(), bar->width()) << i;
    EXPECT_LE(form->cbComPort->fontMetrics().horizontalAdvance("COM2"),
              form->cbComPort->lineEdit()->width());
    EXPECT_LE(form->cbBaudRate->fontMetrics().horizontalAdvance("115200"),
              form->cbBaudRate->lineEdit()->width());
}

TEST_F(MainWindow, ResizingStretchesTheTerminalAndKeepsAnchors)
{
    ShowAndActivate();
    form->PageControl1->setCurrentWidget(form->UploadSheet);
    testapp::ProcessFor(std::chrono::milliseconds(20));
    const int xoffFromRight = form->UploadSheet->width() - form->XoffLabel->geometry().right();
    const QSize page = form->CommSheet->size();
    const auto centreRatio = [](QWidget* w) {
        return double(w->geometry().center().x()) / w->parentWidget()->width();
    };
    const double panelRatio = centreRatio(form->Panel2);
    form->PageControl1->setCurrentWidget(form->CommSheet);
    const double alwaysOnTopRatio =
        double(form->cAlwaysOnTop->geometry().center().y()) / page.height();

    form->resize(424, 425);
    testapp::ProcessFor(std::chrono::milliseconds(20));
    EXPECT_EQ(form->PageControl1->geometry(), QRect(0, 0, 424, 137));
    EXPECT_EQ(form->StatusBar1->geometry(), QRect(0, 406, 424, 19));
    EXPECT_EQ(form->Panel1->geometry(), QRect(0, 137, 424, 269));
    EXPECT_EQ(form->Memo1->geometry(), QRect(1, 1, 422, 267));
    // Left-top anchored controls stay; the always-on-top box keeps its relative height.
    EXPECT_EQ(form->ConnectButton->geometry(), QRect(62, 56, 75, 25));
    EXPECT_NEAR(double(form->cAlwaysOnTop->geometry().center().y()) / form->CommSheet->height(),
                alwaysOnTopRatio, 0.02);

    form->PageControl1->setCurrentWidget(form->UploadSheet);
    testapp::ProcessFor(std::chrono::milliseconds(20));
    EXPECT_EQ(form->UploadSheet->width() - form->XoffLabel->geometry().right(), xoffFromRight);
    EXPECT_NEAR(centreRatio(form->Panel2), panelRatio, 0.02);
    EXPECT_EQ(form->ProgressBar1->width(), form->UploadSheet->width());
    EXPECT_EQ(form->ProgressBar1->geometry().bottom(), form->UploadSheet->height() - 1);
}

// The help window's close button hides it and unticks "Display Help", so that the box always
// tells whether the window is shown (it used to stay ticked). The text cannot be edited (it
// could be).
TEST_F(MainWindow, HelpWindowShowsAndHidesWithTheBoxAndItsCloseButtonUnticksTheBox)
{
    EXPECT_EQ(help->windowTitle(), "Help");
    EXPECT_GE(help->width(), 196);
    EXPECT_GE(help->height(), 81);
    EXPECT_EQ(help->minimumSize(), help->maximumSize());
    EXPECT_EQ(help->pos(), QPoint(49, 98));
    EXPECT_EQ(help->HelpMemo->toPlainText(), "1) Make sure Orvix is in upload mode.\n"
                                             "    and serial cable is connected.\n"
                                             "2) Select Baud Rate and Port.\n"
                                             "3) After connection messages appear in\n"
                                             "    terminal window, click connect.\n");
    EXPECT_EQ(help->HelpMemo->document()->blockCount(), 6);
    EXPECT_TRUE(help->HelpMemo->isReadOnly());
    EXPECT_FALSE(help->testAttribute(Qt::WA_QuitOnClose));

    form->bDisplayHelp->click();
    EXPECT_TRUE(help->isVisible());

    // Its own close button: hidden, and the box follows.
    EXPECT_TRUE(help->close());
    EXPECT_FALSE(help->isVisible());
    EXPECT_FALSE(form->bDisplayHelp->isChecked());

    form->bDisplayHelp->click(); // one click shows it again
    EXPECT_TRUE(form->bDisplayHelp->isChecked());
    EXPECT_TRUE(help->isVisible());
    form->bDisplayHelp->click();
    EXPECT_FALSE(help->isVisible());
    EXPECT_TRUE(testapp::ShownExceptions().empty());
}

// Both instruction texts, the window's own and the one the dialogue with the unit puts in
// (which numbers its two steps "1)" as written), show whole lines: the pane fits them and
// never breaks a line. Below them, where things are on Linux.
TEST_F(MainWindow, HelpTextsShowWholeLinesAndTheLinuxNotes)
{
    form->bDisplayHelp->click();
    const QString connected = "1)Click Select File\n1)Double-click File to\n   begin upload";
    for (const QString& text : {QString::fromLatin1(THelpForm::InitialText), connected}) {
        SCOPED_TRACE(text.toStdString());
        help->HelpMemo->setPlainText(text);
        QApplication::processEvents();
        EXPECT_EQ(help->HelpMemo->toPlainText(), text);
        const QFontMetrics metrics(help->HelpMemo->font());
        const QStringList lines = text.split('\n');
        for (const QString& line : lines)
            EXPECT_LE(metrics.horizontalAdvance(line), help->HelpMemo->viewport()->width())
                << line.toStdString();
        EXPECT_LE(int(lines.size()) * metrics.lineSpacing(), help->HelpMemo->viewport()->height());
        EXPECT_EQ(help->HelpMemo->lineWrapMode(), QPlainTextEdit::NoWrap);
        EXPECT_TRUE(help->rect().contains(help->HelpMemo->geometry()));
        EXPECT_TRUE(help->rect().contains(help->LinuxNotes->geometry()));
        EXPECT_GE(help->LinuxNotes->y(), help->HelpMemo->geometry().bottom());
    }
    const QString notes = help->LinuxNotes->text();
    for (const char* needed : {"Orvix500Upload.Log", "Orvix500Units.csv", "current folder",
                               "[Ports]", "Uploader.ini", "dialout"})
        EXPECT_TRUE(notes.contains(needed)) << needed;
}

TEST_F(MainWindow, AlwaysOnTopSwitchesBothWindowsTogether)
{
    ShowAndActivate();
    const auto onTop = [](QWidget* w) {
        return w->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    };
    EXPECT_FALSE(onTop(form.get()));
    EXPECT_FALSE(onTop(help.get()));

    form->cAlwaysOnTop->click(); // help window hidden: topmost as soon as it is shown
    EXPECT_TRUE(onTop(form.get()));
    EXPECT_TRUE(onTop(help.get()));
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(help->isVisible());
    EXPECT_EQ(form->pos(), QPoint(254, 98));
    form->bDisplayHelp->click();
    EXPECT_TRUE(help->isVisible());
    EXPECT_TRUE(onTop(help.get()));

    form->cAlwaysOnTop->click();
    EXPECT_FALSE(onTop(form.get()));
    EXPECT_FALSE(onTop(help.get()));
    EXPECT_TRUE(form->isVisible());
    EXPECT_TRUE(help->isVisible());
}

TEST_F(MainWindow, ExceptionFromAHandlerIsShownAndTheProgramGoesOn)
{
    // A directory where the settings file should be: the save of the port fails.
    std::filesystem::remove(dir / "Uploader.ini");
    std::filesystem::create_directory(dir / "Uploader.ini");
    const AnsiString statusBefore = form->StatusText();
    form->cbComPort->setCurrentIndex(2);
    ASSERT_EQ(testapp::ShownExceptions(),
              std::vector<AnsiString>{"Unable to write to " + (dir / "Uploader.ini").string()});
    // The handler stopped at the save: the port was not re-opened, nothing was logged.
    EXPECT_EQ(form->StatusText(), statusBefore);
    const auto log = LogTexts();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& t) { return t.rfind("port : ", 0) == 0; }),
              0);
    // The window goes on handling events.
    form->bDisplayHelp->click();
    EXPECT_TRUE(help->isVisible());
}

TEST_F(MainWindow, ClosingStopsTheLogFileAndTheTimerAndWritesNoSettings)
{
    ShowAndActivate();
    const std::string iniBefore = ReadIni();
    const std::size_t linesBefore = LogTexts().size();
    std::vector<AnsiString> events;
    form->LogFile->OnEvent = [&](TObject*, const AnsiString& line) { events.push_back(line); };

    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isVisible());
    EXPECT_FALSE(form->LogFile->LogToFile);
    EXPECT_FALSE(form->ThreadedTimer1->Enabled());
    EXPECT_EQ(ReadIni(), iniBefore);

    form->LogFile->Log("after the close");
    EXPECT_EQ(events.size(), 1u);
    EXPECT_EQ(LogTexts().size(), linesBefore);
}

} // namespace
} // namespace mainwindow
