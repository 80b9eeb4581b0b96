#include "app/Anchors.h"

#include <QEvent>
#include <QWidget>

namespace {

// One axis: position and length for a container length of `size`.
std::pair<int, int> PlaceAxis(int pos, int length, bool nearEdge, bool farEdge, int designSize,
                              int size)
{
    const int grow = size - designSize;
    if (nearEdge && farEdge)
        return {pos, length + grow};
    if (farEdge)
        return {pos + grow, length};
    if (nearEdge || designSize <= 0)
        return {pos, length};
    // Neither edge: the centre keeps its relative place.
    const int centre = int((std::int64_t(pos) + length / 2) * size / designSize);
    return {centre - length / 2, length};
}

} // namespace

TAnchors::TAnchors(QWidget* container, QSize designSize)
    : QObject(container), container_(container), designSize_(designSize)
{
    container_->installEventFilter(this);
}

void TAnchors::Add(QWidget* control, unsigned anchors)
{
    entries_.push_back({control, control->geometry(), anchors});
}

QRect TAnchors::Place(QRect design, unsigned anchors, QSize designSize, QSize size)
{
    const auto [x, w] = PlaceAxis(design.x(), design.width(), anchors & akLeft, anchors & akRight,
                                  designSize.width(), size.width());
    const auto [y, h] = PlaceAxis(design.y(), design.height(), anchors & akTop, anchors & akBottom,
                                  designSize.height(), size.height());
    return QRect(x, y, w, h);
}

void TAnchors::Apply()
{
    for (const Entry& e : entries_)
        e.control->setGeometry(Place(e.design, e.anchors, designSize_, container_->size()));
}

bool TAnchors::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == container_ && event->type() == QEvent::Resize)
        Apply();
    return QObject::eventFilter(watched, event);
}
