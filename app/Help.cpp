#include "app/Help.h"

#include "app/FormStyle.h"
#include "app/Uploader.h"
#include "app/ui_Help.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <algorithm>

namespace {

// The text pane's size as designed; it grows only when its lines need more.
constexpr int kDesignedWidth = 196;
constexpr int kDesignedHeight = 81;
// The room around the notes below the instructions.
constexpr int kNotesMargin = 4;

} // namespace

THelpForm* HelpForm = nullptr;

const char* const THelpForm::InitialText = "1) Make sure Orvix is in upload mode.\n"
                                           "    and serial cable is connected.\n"
                                           "2) Select Baud Rate and Port.\n"
                                           "3) After connection messages appear in\n"
                                           "    terminal window, click connect.\n";

const char* const THelpForm::LinuxText = "On Linux:\n"
                                         "Orvix500Upload.Log (the log) and\n"
                                         "Orvix500Units.csv (the unit record)\n"
                                         "are in the current folder.\n"
                                         "Other devices for COM1 to COM4: the\n"
                                         "[Ports] section of Uploader.ini,\n"
                                         "for example COM1=/dev/ttyUSB0.\n"
                                         "The operator must be in the group\n"
                                         "dialout to open a serial port.";

THelpForm::THelpForm(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::THelpForm>())
{
    ui->setupUi(this);
    HelpMemo = ui->HelpMemo;
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    // Closing the help window hides it; it never ends the program.
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(formstyle::FormFont());
    move(49, 98);
    // The operator reads the instructions; the dialogue with the unit replaces them.
    HelpMemo->setReadOnly(true);
    HelpMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    LinuxNotes = new QLabel(QString::fromLatin1(LinuxText), this);
    LinuxNotes->setObjectName("LinuxNotes");
    LinuxNotes->setTextInteractionFlags(Qt::TextSelectableByMouse);
    HelpMemo->setPlainText(QString::fromLatin1(InitialText));
    FitToText();
    QObject::connect(HelpMemo, &QPlainTextEdit::textChanged, this, [this] { FitToText(); });
    HelpForm = this;
}

void THelpForm::FitToText()
{
    const QFontMetrics metrics(HelpMemo->font());
    int widest = 0;
    const QStringList lines = HelpMemo->toPlainText().split('\n');
    for (const QString& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    // The document's margin on each side, the frame, and the cursor's width at a line's end.
    const int around = 2 * (int(HelpMemo->document()->documentMargin()) + HelpMemo->frameWidth());
    const int width = std::max(kDesignedWidth, widest + around + 2);
    const int height =
        std::max(kDesignedHeight, int(lines.size()) * metrics.lineSpacing() + around);
    HelpMemo->setGeometry(0, 0, width, height);
    const QSize notes = LinuxNotes->sizeHint();
    LinuxNotes->setGeometry(kNotesMargin, height + kNotesMargin, notes.width(), notes.height());
    setFixedSize(std::max(width, notes.width() + 2 * kNotesMargin),
                 height + notes.height() + 2 * kNotesMargin);
}

void THelpForm::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (Form1 && Form1->bDisplayHelp)
        Form1->bDisplayHelp->setChecked(false);
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
