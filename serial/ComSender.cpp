#include "serial/ComSender.h"

#include <QMetaObject>
#include <string>

TComSender::TComSender(QObject* context, SerialPort& port,
                       std::function<void(const TSendReport&)> deliver)
    : port_(port), deliver_(std::move(deliver)), shared_(std::make_shared<Shared>())
{
    shared_->owner = this;
    const std::shared_ptr<Shared> shared = shared_;
    transmitter_ =
        std::make_unique<SerialTransmitter>(port, [context, shared] { Post(context, shared); });
    port_.SetHoldObserver([context, shared](bool) { Post(context, shared); });
}

TComSender::~TComSender()
{
    // After this no driver thread tells of a hold, and the transmitter's thread has ended.
    port_.SetHoldObserver({});
    shared_->owner = nullptr;
    transmitter_.reset();
}

void TComSender::Post(QObject* context, const std::shared_ptr<Shared>& shared)
{
    if (shared->posted.exchange(true))
        return;
    // Queued to the context's thread; dropped with the context if it goes first.
    QMetaObject::invokeMethod(
        context,
        [shared] {
            if (shared->owner)
                shared->owner->Deliver();
        },
        Qt::QueuedConnection);
}

void TComSender::Deliver()
{
    // Cleared before the figures are read: a change after this posts a report of its own.
    shared_->posted = false;
    const TSendReport report = transmitter_->TakeReport();
    if (deliver_)
        deliver_(report);
}
