#include "app/Help.h"

#include "app/FormStyle.h"
#include "app/ui_Help.h"

THelpForm* HelpForm = nullptr;

const char* const THelpForm::InitialText = "1) Make sure Orvix is in upload mode.\n"
                                           "    and serial cable is connected.\n"
                                           "2) Select Baud Rate and Port.\n"
                                           "3) After connection messages appear in\n"
                                           "    terminal window, click connect.\n";

THelpForm::THelpForm(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::THelpForm>())
{
    ui->setupUi(this);
    HelpMemo = ui->HelpMemo;
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    // Closing the help window hides it; it never ends the program.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(formstyle::FormFont());
    setFixedSize(196, 81);
    move(49, 98);
    HelpMemo->setGeometry(0, 0, 196, 81);
    HelpMemo->setPlainText(QString::fromLatin1(InitialText));
    HelpForm = this;
}

THelpForm::~THelpForm()
{
    if (HelpForm == this)
        HelpForm = nullptr;
}

void THelpForm::SetStayOnTop(bool on)
{
    if (StayOnTop() == on)
        return;
    const bool visible = isVisible();
    // Changing the window flags hides a window; show it again where it was.
    const QPoint place = pos();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    move(place);
    if (visible)
        show();
}

bool THelpForm::StayOnTop() const
{
    return windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}
