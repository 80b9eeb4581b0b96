#include "line/window/StationPanel.h"

#include "line/core/Line.h"
#include "line/window/VerdictText.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

namespace line {

namespace {

// The verdict's colours: white on green for a pass, white on red for a failure.
const QColor PassColour(0x1e, 0x8e, 0x3e);
const QColor FailColour(0xc5, 0x22, 0x1f);
constexpr int VerdictPointSize = 18;
// The lines each text has on the tile, whatever it says: a tile keeps its size and its
// buttons their places as the texts change (the whole text is in the tooltip).
constexpr int SocketLines = 2;
constexpr int StateLines = 4;
constexpr int AdviceLines = 3;

void FixLines(QLabel* label, int lines)
{
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setFixedHeight(label->fontMetrics().lineSpacing() * lines);
}

QString Q(const std::string& text)
{
    return QString::fromStdString(text);
}

// Colours by palette rather than style sheet: a style sheet costs a polish when set and a
// slower paint at every frame, with 16 tiles redrawn several times a second. Set only when
// it changes, so a refresh that changes nothing costs nothing.
void SetColours(QLabel* label, const QColor& background, const QColor& text)
{
    QPalette palette = label->palette();
    if (palette.color(QPalette::Window) == background &&
        palette.color(QPalette::WindowText) == text)
        return;
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    label->setPalette(palette);
}

} // namespace

StationPanel::StationPanel(Line& line, int index, QWidget* parent)
    : QFrame(parent), line_(line), index_(index), title_(new QLabel(this)),
      socket_(new QLabel(this)), state_(new QLabel(this)), progress_(new QProgressBar(this)),
      rate_(new QLabel(this)), verdict_(new QLabel(this)), advice_(new QLabel(this)),
      counters_(new QLabel(this)), start_(new QPushButton(tr("Start"), this)),
      stop_(new QPushButton(tr("Stop"), this)), cancel_(new QPushButton(tr("Cancel"), this)),
      learn_(new QPushButton(tr("Learn"), this)), confirm_(new QPushButton(tr("Confirm"), this))
{
    setFrameShape(QFrame::StyledPanel);
    setObjectName(QString("station%1").arg(index + 1));
    QFont titleFont = title_->font();
    titleFont.setBold(true);
    title_->setFont(titleFont);
    socket_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    FixLines(socket_, SocketLines);
    FixLines(state_, StateLines);
    FixLines(advice_, AdviceLines);
    QFont verdictFont = verdict_->font();
    verdictFont.setPointSize(VerdictPointSize);
    verdictFont.setBold(true);
    verdict_->setFont(verdictFont);
    verdict_->setAlignment(Qt::AlignCenter);
    verdict_->setMinimumHeight(QFontMetrics(verdictFont).height() * 3 / 2);
    verdict_->setAutoFillBackground(true);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {start_, stop_, cancel_, learn_, confirm_})
        buttons->addWidget(button);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title_);
    layout->addWidget(socket_);
    layout->addWidget(state_);
    layout->addWidget(progress_);
    layout->addWidget(rate_);
    layout->addWidget(verdict_);
    layout->addWidget(advice_);
    layout->addWidget(counters_);
    // The buttons keep their place at the foot of the tile, whatever the texts above take.
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(start_, &QPushButton::clicked, this, [this] { StationOf().Start(); });
    connect(stop_, &QPushButton::clicked, this, [this] { StationOf().Stop(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { StationOf().Cancel(); });
    connect(confirm_, &QPushButton::clicked, this, [this] { StationOf().Confirm(); });
    connect(learn_, &QPushButton::clicked, this, [this] {
        const std::string error = line_.Learn(index_);
        if (!error.empty())
            state_->setText(Q(error));
    });
    Refresh();
}

Station& StationPanel::StationOf() const
{
    return line_.At(index_);
}

QString StationPanel::StateText() const
{
    return state_->text();
}

QString StationPanel::VerdictText() const
{
    return verdict_->text();
}

void StationPanel::Refresh()
{
    const Station& station = StationOf();
    const StationView view = station.View();
    title_->setText(Q(station.Settings().name));
    const std::string socket = station.Settings().socket;
    QString socketText = socket.empty() ? tr("no socket bound") : Q(socket);
    if (station.Settings().adapter)
        socketText += "\n" + Q(station.Settings().adapter->Text());
    socket_->setText(socketText);

    QString state;
    switch (view.phase) {
    case StationPhase::Stopped:
        state = tr("Stopped");
        break;
    case StationPhase::Halted:
        state = tr("Halted: ") + Q(view.problem);
        break;
    case StationPhase::Waiting:
        state = tr("Waiting for a unit");
        break;
    case StationPhase::Programming:
        state = tr("Programming");
        break;
    case StationPhase::Verifying:
        state = tr("Programmed, awaiting the unit's verdict: ") + Q(view.status);
        break;
    }
    const bool halted = view.phase == StationPhase::Halted;
    SetColours(state_, palette().color(QPalette::Window),
               halted ? FailColour : palette().color(QPalette::WindowText));
    if (state_->font().bold() != halted) {
        QFont font = state_->font();
        font.setBold(halted);
        state_->setFont(font);
    }
    state_->setText(state);
    state_->setToolTip(state);
    progress_->setMaximum(view.progressMaximum);
    progress_->setValue(view.phase == StationPhase::Programming ? view.progress : 0);
    QString rate;
    if (view.phase == StationPhase::Programming) {
        rate = QString("%1 bytes/s").arg(std::lround(view.bytesPerSecond));
        if (view.held)
            rate += QString(tr("   XOFF held %1 s"))
                        .arg(double(view.holdAge.count()) / 1000, 0, 'f', 1);
    }
    rate_->setText(rate);

    if (view.lastOutcome) {
        const line::VerdictText text = VerdictOf(*view.lastOutcome);
        const bool pass = *view.lastOutcome == upload::UnitOutcome::CrcOk;
        verdict_->setText(text.verdict);
        SetColours(verdict_, pass ? PassColour : FailColour, Qt::white);
        QString advice = pass ? QString() : Q(view.lastStatus) + "\n" + text.advice;
        if (!view.recordError.empty())
            advice += "\n" + Q(view.recordError);
        advice_->setText(advice.trimmed());
    } else {
        verdict_->setText("-");
        SetColours(verdict_, palette().color(QPalette::Window),
                   palette().color(QPalette::WindowText));
        advice_->setText(Q(view.recordError));
    }
    const QString yield =
        view.units ? QString::number(100.0 * view.passed / view.units, 'f', 1) + " %" : "-";
    counters_->setText(
        QString(tr("Units %1   passed %2   failed %3   first-pass yield %4\nLast unit %5"))
            .arg(view.units)
            .arg(view.passed)
            .arg(view.failed)
            .arg(yield)
            .arg(view.lastUnitTime.empty() ? "-" : Q(view.lastUnitTime)));
    const bool active = view.phase != StationPhase::Stopped && view.phase != StationPhase::Halted;
    start_->setEnabled(!active && !view.confirmNeeded);
    stop_->setEnabled(active);
    cancel_->setEnabled(view.phase == StationPhase::Programming);
    learn_->setEnabled(!active);
    confirm_->setEnabled(view.confirmNeeded);
}

} // namespace line
