// The help window: a small fixed-size window with the operator's instruction text (read-only,
// never wrapped: the window fits its lines) and, below it, where things are on Linux; shown
// and hidden from the main window's "Display Help" box, which its own close button unticks.
#pragma once

#include <QWidget>
#include <memory>

class QLabel;
class QPlainTextEdit;
namespace Ui {
class THelpForm;
}

class THelpForm : public QWidget
{
public:
    // Builds the window hidden, at its place on the screen, with the instruction text.
    explicit THelpForm(QWidget* parent = nullptr);
    ~THelpForm() override;

    QPlainTextEdit* HelpMemo = nullptr;
    QLabel* LinuxNotes = nullptr;

    // Switches the window between staying on top of other windows and the normal style; a
    // visible window stays visible.
    void SetStayOnTop(bool on);
    bool StayOnTop() const;

    // The text the window shows when it is created.
    static const char* const InitialText;
    // The lines below it: where the log, the unit record and the port map are on Linux.
    static const char* const LinuxText;

protected:
    // Closing hides the window; the main window's "Display Help" box follows.
    void closeEvent(QCloseEvent* event) override;

private:
    // Sizes the text pane to its lines (at least the designed 196 by 81) and the window to
    // the pane and the notes, so that no line of the instructions is broken.
    void FitToText();

    std::unique_ptr<Ui::THelpForm> ui;
};

// The help window, set while it exists.
extern THelpForm* HelpForm;
