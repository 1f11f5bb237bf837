// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QRect>
#include <QSize>

class QWidget;

namespace reburn3 {

// The windows have a fixed, designed geometry: every control at its place and size, in
// pixels at 96 DPI. A larger font (a higher font DPI with no scaling, say) would clip
// their captions, so the whole design is scaled by one factor, derived from the font
// through the room each caption needs: the window and every control grow alike, and the
// proportions hold. At 96 DPI with the usual font the factor is 1 and nothing moves.
//
// The controls are the named children of the window (objectName set, not one of Qt's
// own "qt_" parts); their geometry as first set is their designed geometry.

// True when the caption of `widget` shows whole at `size`. Widgets without a caption
// always fit.
bool captionFits(const QWidget& widget, QSize size);
// The same at the widget's present size.
bool captionFits(const QWidget& widget);

// The least factor, in steps of 0.05 from 1, at which every control of `window` shows
// its caption whole.
double captionScale(QWidget& window);

// Places every control of `window` at its designed geometry times `factor`.
void scaleControls(QWidget& window, double factor);

// A designed rectangle or size times `factor`, rounded to whole pixels.
QRect scaled(QRect designed, double factor);
QSize scaled(QSize designed, double factor);

}  // namespace reburn3
