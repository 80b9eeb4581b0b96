// One station's tile in the line window: its name and socket, its state (waiting, programming
// with progress, rate and the unit's hold), a large verdict, its counters and the time of its
// last unit, and its buttons. It shows what Station::View says; it keeps no state of its own.
#pragma once

#include <QFrame>

class QLabel;
class QProgressBar;
class QPushButton;

namespace line {

class Line;
class Station;

class StationPanel : public QFrame
{
    Q_OBJECT
public:
    StationPanel(Line& line, int index, QWidget* parent = nullptr);

    // Shows the station as it is now.
    void Refresh();

    QPushButton* StartButton() const { return start_; }
    QPushButton* StopButton() const { return stop_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* LearnButton() const { return learn_; }
    QPushButton* ConfirmButton() const { return confirm_; }
    QString StateText() const;
    QString VerdictText() const;

private:
    Station& StationOf() const;

    Line& line_;
    int index_;
    QLabel* title_;
    QLabel* socket_;
    QLabel* state_;
    QProgressBar* progress_;
    QLabel* rate_;
    QLabel* verdict_;
    QLabel* advice_;
    QLabel* counters_;
    QPushButton* start_;
    QPushButton* stop_;
    QPushButton* cancel_;
    QPushButton* learn_;
    QPushButton* confirm_;
};

} // namespace line
