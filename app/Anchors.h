// Anchors for the controls of a container, as the class library's forms have them and Qt
// has not: when the container changes size, each registered control keeps its distance to
// the anchored edges, stretches between two opposite anchored edges, and, with neither edge
// of an axis anchored, keeps its centre at the same relative place.
#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <vector>

class QWidget;

enum TAnchor : unsigned
{
    akLeft = 1,
    akTop = 2,
    akRight = 4,
    akBottom = 8
};

class TAnchors : public QObject
{
public:
    // `designSize` is the container's size for which the controls' geometries were designed.
    TAnchors(QWidget* container, QSize designSize);

    // Registers a child of the container with its designed geometry (its geometry now).
    void Add(QWidget* control, unsigned anchors);

    // Places every registered control for the container's current size.
    void Apply();

    // The geometry a control designed at `design` in a container designed at `designSize`
    // takes in a container of `size`.
    static QRect Place(QRect design, unsigned anchors, QSize designSize, QSize size);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Entry
    {
        QWidget* control;
        QRect design;
        unsigned anchors;
    };
    QWidget* container_;
    QSize designSize_;
    std::vector<Entry> entries_;
};
