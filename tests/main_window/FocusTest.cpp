// The tab pages' focus rules: a page is entered when the focus moves into it from outside
// (the window's first focus too), a page switch moves the focus along only when it lay on
// the page being left, and disabling the focused control leaves no control focused.
#include "platform/PageFocus.h"
#include "tests/main_window/WindowFixture.h"
#include "tests/support/TestApp.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QVBoxLayout>

namespace mainwindow {
namespace {

bool ActivateWindow(QWidget* window)
{
    window->show();
    window->activateWindow();
    return testapp::ProcessUntil([&] { return QApplication::activeWindow() == window; },
                                 std::chrono::seconds(10));
}

// The rules on a window of their own, with a stand-in handler that counts entries.
class PageFocusRules : public testing::Test
{
protected:
    void SetUp() override
    {
        auto* layout = new QVBoxLayout(&window);
        outside = new QLineEdit(&window);
        layout->addWidget(outside);
        tabs = new QTabWidget(&window);
        layout->addWidget(tabs);
        first = new QWidget;
        second = new QWidget;
        firstEdit = new QLineEdit(first);
        firstButton = new QPushButton("b", first);
        firstButton->move(0, 30);
        secondEdit = new QLineEdit(second);
        tabs->addTab(first, "First");
        tabs->addTab(second, "Second");
        focus = std::make_unique<TPageFocus>(tabs);
        focus->SetOnEnter(first, [this] { ++firstEntered; });
        focus->SetOnEnter(second, [this] { ++secondEntered; });
    }
    void TearDown() override { focus.reset(); }

    QWidget window;
    QLineEdit* outside;
    QTabWidget* tabs;
    QWidget* first;
    QWidget* second;
    QLineEdit* firstEdit;
    QPushButton* firstButton;
    QLineEdit* secondEdit;
    std::unique_ptr<TPageFocus> focus;
    int firstEntered = 0;
    int secondEntered = 0;
};

TEST_F(PageFocusRules, FirstFocusOfTheWindowEntersThePage)
{
    firstEdit->setFocus();
    EXPECT_EQ(firstEntered, 0); // nothing before the window takes the focus
    ASSERT_TRUE(ActivateWindow(&window));
    ASSERT_TRUE(testapp::ProcessUntil([&] { return firstEntered > 0; }, std::chrono::seconds(5)));
    EXPECT_EQ(firstEntered, 1);
    EXPECT_EQ(focus->ActiveControl(), firstEdit);

    // Moving within the page enters nothing; leaving and coming back enters again.
    firstButton->setFocus();
    outside->setFocus();
    firstEdit->setFocus();
    EXPECT_EQ(firstEntered, 2);
    EXPECT_EQ(secondEntered, 0);
}

TEST_F(PageFocusRules, SwitchingPagesMovesTheFocusOnlyWhenItLayOnThePageLeft)
{
    ASSERT_TRUE(ActivateWindow(&window));
    focus->FocusControl(outside);
    focus->SetActivePage(second);
    focus->SetActivePage(first);
    EXPECT_EQ(firstEntered, 0);
    EXPECT_EQ(secondEntered, 0);
    EXPECT_EQ(focus->ActiveControl(), outside);

    focus->FocusControl(firstEdit);
    EXPECT_EQ(firstEntered, 1);
    focus->SetActivePage(second); // entered within the call
    EXPECT_EQ(secondEntered, 1);
    EXPECT_TRUE(second->isAncestorOf(focus->ActiveControl()) || focus->ActiveControl() == second);
    focus->SetActivePage(first);
    EXPECT_EQ(firstEntered, 2);
    EXPECT_EQ(secondEntered, 1);
}

TEST_F(PageFocusRules, DisablingTheFocusedControlLeavesNoControlFocused)
{
    ASSERT_TRUE(ActivateWindow(&window));
    focus->FocusControl(firstButton);
    focus->DisableControl(firstButton);
    EXPECT_EQ(focus->ActiveControl(), nullptr);
    EXPECT_EQ(window.focusWidget(), nullptr);
    // A page switch now enters nothing; the operator's next choice enters its page.
    focus->SetActivePage(second);
    focus->SetActivePage(first);
    EXPECT_EQ(firstEntered, 1);
    EXPECT_EQ(secondEntered, 0);
    focus->FocusControl(firstEdit);
    EXPECT_EQ(firstEntered, 2);

    // Disabled by other code while the window is active: Qt's move of the focus is undone.
    firstEdit->setEnabled(false);
    EXPECT_EQ(focus->ActiveControl(), nullptr);
    EXPECT_EQ(QApplication::focusWidget(), nullptr);
}

TEST_F(PageFocusRules, ClickOnTheTabBarEntersNoPage)
{
    ASSERT_TRUE(ActivateWindow(&window));
    focus->FocusControl(firstEdit);
    ASSERT_EQ(firstEntered, 1);
    auto* bar = tabs->findChild<QTabBar*>();
    ASSERT_NE(bar, nullptr);
    // A look at the second page and back, by mouse.
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
    ASSERT_EQ(tabs->currentWidget(), second);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(0).center());
    ASSERT_EQ(tabs->currentWidget(), first);
    EXPECT_EQ(firstEntered, 1);
    EXPECT_EQ(secondEntered, 0);
    EXPECT_EQ(focus->ActiveControl(), bar);
    // The operator's next click into the page enters it.
    QTest::mouseClick(firstButton, Qt::LeftButton);
    EXPECT_EQ(firstEntered, 2);
}

TEST_F(PageFocusRules, DisablingAnUnfocusedControlKeepsTheFocus)
{
    ASSERT_TRUE(ActivateWindow(&window));
    focus->FocusControl(firstEdit);
    focus->DisableControl(firstButton);
    EXPECT_EQ(focus->ActiveControl(), firstEdit);
    EXPECT_TRUE(firstEdit->hasFocus());
}

// The same rules on the main window, observed through the Comm Setup page's handler, which
// clears the Connect request.
class MainWindowFocus : public WindowTest
{
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        WriteIni("[Ports]\nCOM2=" + (dir / "none").string() + "\n");
        CreateWindows();
    }
};

TEST_F(MainWindowFocus, FirstFocusGoesToThePortBoxAndEntersCommSetup)
{
    form->ConnectButton->click();
    ASSERT_TRUE(form->ConnectRequested());
    ShowAndActivate();
    EXPECT_TRUE(form->cbComPort->isAncestorOf(QApplication::focusWidget()) ||
                QApplication::focusWidget() == form->cbComPort);
    EXPECT_FALSE(form->ConnectRequested());
}

TEST_F(MainWindowFocus, ShowingCommSetupWithTheFocusOnUploadEntersIt)
{
    ShowAndActivate();
    form->SetActivePage(form->UploadSheet);
    form->bCancel->setFocus();
    form->ConnectButton->click();
    ASSERT_TRUE(form->ConnectRequested());
    form->SetActivePage(form->CommSheet);
    EXPECT_FALSE(form->ConnectRequested());
    EXPECT_TRUE(form->CommSheet->isAncestorOf(QApplication::focusWidget()));
}

TEST_F(MainWindowFocus, ShowingCommSetupWithTheFocusElsewhereEntersNothing)
{
    ShowAndActivate();
    form->Memo1->setFocus();
    form->SetActivePage(form->UploadSheet);
    form->ConnectButton->click();
    form->SetActivePage(form->CommSheet);
    EXPECT_TRUE(form->ConnectRequested());
}

TEST_F(MainWindowFocus, AfterTheFocusedButtonDisablesItselfNothingIsEntered)
{
    ShowAndActivate();
    form->SetActivePage(form->UploadSheet);
    form->bBrowse->setEnabled(true);
    form->bBrowse->setFocus();
    form->DisableControl(form->bBrowse);
    EXPECT_EQ(QApplication::focusWidget(), nullptr);
    form->ConnectButton->click();
    form->SetActivePage(form->CommSheet);
    EXPECT_TRUE(form->ConnectRequested());
    // The operator clicks into the page: it is entered.
    form->cbBaudRate->setFocus();
    EXPECT_FALSE(form->ConnectRequested());
}

} // namespace
} // namespace mainwindow
