// The help window: a small fixed-size window with an editable instruction text, shown and
// hidden from the main window; its own close button only hides it.
#pragma once

#include <QWidget>
#include <memory>

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

    // Switches the window between staying on top of other windows and the normal style; a
    // visible window stays visible.
    void SetStayOnTop(bool on);
    bool StayOnTop() const;

    // The text the window shows when it is created.
    static const char* const InitialText;

private:
    std::unique_ptr<Ui::THelpForm> ui;
};

// The help window, set while it exists.
extern THelpForm* HelpForm;
