// Base of the non-visual and visual components: a component is owned by another object
// (its owner destroys it) and fires events as bound callables whose first argument names
// the object that fires them.
#pragma once

#include <QObject>
#include <functional>

using TObject = QObject;

// An event with the sender alone.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// A component is owned by its owner through Qt's parent-child ownership, so destroying the
// owner (a window) destroys its components.
class TComponent : public QObject
{
public:
    explicit TComponent(QObject* Owner) : QObject(Owner) {}
    TObject* Owner() const { return parent(); }
};
