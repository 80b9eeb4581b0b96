#include "line/window/LineWindow.h"

#include "line/core/Line.h"
#include "line/window/StationPanel.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <chrono>

using namespace std::chrono_literals;

namespace line {

namespace {

// Often enough for progress to move smoothly, rarely enough to cost little with 16 stations.
constexpr auto RefreshInterval = 200ms;
constexpr int GridColumns = 4;

} // namespace

LineWindow::LineWindow(Line& line, QWidget* parent)
    : QMainWindow(parent), line_(line), firmware_(new QLabel), message_(new QLabel),
      chooseFirmware_(new QPushButton(tr("Firmware..."))),
      confirmFirmware_(new QPushButton(tr("Confirm firmware"))),
      startAll_(new QPushButton(tr("Start all"))), stopAll_(new QPushButton(tr("Stop all"))),
      cancelAll_(new QPushButton(tr("Cancel all")))
{
    setWindowTitle(tr("Orvix-500 Production Line"));
    firmware_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    firmware_->setWordWrap(true);
    message_->setWordWrap(true);

    auto* bar = new QHBoxLayout;
    bar->addWidget(firmware_, 1);
    for (QPushButton* button : {chooseFirmware_, confirmFirmware_, startAll_, stopAll_, cancelAll_})
        bar->addWidget(button);

    auto* grid = new QGridLayout;
    for (int i = 0; i < line_.Count(); ++i) {
        auto* panel = new StationPanel(line_, i);
        grid->addWidget(panel, i / GridColumns, i % GridColumns);
        panels_.push_back(panel);
    }
    auto* stations = new QWidget;
    stations->setLayout(grid);
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setWidget(stations);

    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addLayout(bar);
    layout->addWidget(message_);
    layout->addWidget(scroll, 1);
    setCentralWidget(central);
    FitToStations(scroll, stations);

    connect(chooseFirmware_, &QPushButton::clicked, this, [this] { ChooseFirmware(); });
    connect(confirmFirmware_, &QPushButton::clicked, this, [this] {
        const std::string error = line_.ConfirmFirmware();
        ShowMessage(
            QString::fromStdString(error.empty() ? "Firmware confirmed: press Start all" : error));
        Refresh();
    });
    connect(startAll_, &QPushButton::clicked, this, [this] {
        line_.StartAll();
        Refresh();
    });
    connect(stopAll_, &QPushButton::clicked, this, [this] {
        line_.StopAll();
        Refresh();
    });
    connect(cancelAll_, &QPushButton::clicked, this, [this] {
        line_.CancelAll();
        Refresh();
    });

    QStringList problems;
    for (const std::string& problem : line_.Problems())
        problems << QString::fromStdString(problem);
    ShowMessage(problems.join("\n"));
    refresh_.setInterval(RefreshInterval);
    connect(&refresh_, &QTimer::timeout, this, [this] { Refresh(); });
    refresh_.start();
    Refresh();
}

LineWindow::~LineWindow() = default;

void LineWindow::FitToStations(QScrollArea* scroll, QWidget* stations)
{
    // A scroll area asks for little room of its own: the window opens showing every station
    // whole, as far as the screen has room for them.
    const int frame = 2 * scroll->frameWidth();
    scroll->setMinimumSize(stations->sizeHint() + QSize(frame, frame));
    QSize size = sizeHint();
    scroll->setMinimumSize(0, 0);
    if (const QScreen* screen = this->screen())
        size = size.boundedTo(screen->availableGeometry().size());
    resize(size);
}

void LineWindow::Refresh()
{
    const LineFirmware& firmware = line_.Firmware();
    QString text = tr("Firmware: ");
    if (firmware.Pinned())
        text += QString::fromStdString(firmware.File().path) + "\nSHA-256 " +
                QString::fromStdString(firmware.Sha256());
    else
        text += tr("none chosen");
    if (firmware.Changed())
        text += tr("\nCHANGED ON DISK: every station stops before its next unit");
    firmware_->setText(text);
    confirmFirmware_->setVisible(firmware.Changed());
    for (StationPanel* panel : panels_)
        panel->Refresh();
}

void LineWindow::ChooseFirmware()
{
    const QString path =
        QFileDialog::getOpenFileName(this, tr("The line's firmware"), {},
                                     tr("Firmware (*.out *.s19 *.srec *.hex);;All files (*)"));
    if (path.isEmpty())
        return;
    const std::string error = line_.ChooseFirmware(path.toStdString());
    ShowMessage(QString::fromStdString(error));
    Refresh();
}

void LineWindow::ShowMessage(const QString& text)
{
    message_->setText(text);
    message_->setVisible(!text.isEmpty());
}

void LineWindow::closeEvent(QCloseEvent* event)
{
    // Every transfer running is cancelled and recorded, every port closed, before the
    // window goes.
    refresh_.stop();
    line_.StopAll();
    event->accept();
}

} // namespace line
