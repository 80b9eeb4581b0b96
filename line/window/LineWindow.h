// The production line's window: the line's firmware with its SHA-256, the buttons for the
// whole line, and a grid of station panels, refreshed a few times a second.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <vector>

class QLabel;
class QPushButton;
class QScrollArea;

namespace line {

class Line;
class StationPanel;

class LineWindow : public QMainWindow
{
    Q_OBJECT
public:
    // The window shows `line`, which outlives it.
    explicit LineWindow(Line& line, QWidget* parent = nullptr);
    ~LineWindow() override;

    StationPanel* Panel(int index) const { return panels_[std::size_t(index)]; }
    QPushButton* StartAllButton() const { return startAll_; }
    QPushButton* StopAllButton() const { return stopAll_; }
    QPushButton* CancelAllButton() const { return cancelAll_; }
    QPushButton* ConfirmFirmwareButton() const { return confirmFirmware_; }
    // Shows every station as it is now.
    void Refresh();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FitToStations(QScrollArea* scroll, QWidget* stations);
    void ChooseFirmware();
    void ShowMessage(const QString& text);

    Line& line_;
    QLabel* firmware_;
    QLabel* message_;
    QPushButton* chooseFirmware_;
    QPushButton* confirmFirmware_;
    QPushButton* startAll_;
    QPushButton* stopAll_;
    QPushButton* cancelAll_;
    std::vector<StationPanel*> panels_;
    QTimer refresh_;
};

} // namespace line
