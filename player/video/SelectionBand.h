#pragma once

#include <QRubberBand>

// The rectangle shown while the mouse drags a selection over a video window:
// a one-pixel pure red outline, drawn by Qt on the GUI thread above whatever
// the play library renders into the window. It never takes the mouse, so the
// drag keeps going to the video surface underneath.
class CSelectionBand : public QRubberBand
{
    Q_OBJECT

public:
    explicit CSelectionBand(QWidget *parent);

    // Covers `start` to `end`, both corners included, in the parent's
    // coordinates, and shows the band above its siblings.
    void ShowBetween(const QPoint &start, const QPoint &end);

protected:
    void paintEvent(QPaintEvent *event) override;
};
