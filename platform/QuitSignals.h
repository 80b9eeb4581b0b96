// The system's requests to stop (SIGTERM at a logout, a shutdown or a service stop; SIGINT from
// a terminal; SIGHUP when the terminal goes away), brought to the window's thread, so that the
// program ends as closing its main window ends it instead of dying in the middle of a transfer.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

class QuitSignals : public QObject
{
public:
    // `onSignal` runs on the thread that created this object, once per signal received, with
    // the signal's number. One instance at a time.
    explicit QuitSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    // Puts the default handling back.
    ~QuitSignals() override;
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

private:
    void Drain();

    std::function<void(int)> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};
