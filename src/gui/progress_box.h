// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QImage>
#include <QLineEdit>
#include <QString>
#include <optional>

class QPainter;
class QStyle;
class QStyleOption;

namespace reburn3 {

// A text box of the progress counters ("Remaining", "Completed", the percentage). To the
// operator it is an ordinary line edit (it takes the focus, its text can be selected and
// copied), but during a download its text changes at every tick, and each change
// repaints it. So it draws its frame from a picture made once for its size, state,
// palette and style, instead of having the style draw the antialiased rounded frame each
// time (that cost more than the text); and a text equal to the one shown asks for no
// paint at all.
class ProgressBox : public QLineEdit {
    Q_OBJECT
public:
    explicit ProgressBox(QWidget* parent = nullptr);

    // Shows `text` from its start; nothing happens when it is shown already.
    void showCount(const QString& text);

    // How many times the style drew the frame for the picture: once, and again only after
    // a change of size, state (focus, enabled, active window), palette or style.
    int framePicturesMade() const { return m_picturesMade; }

private:
    friend class FramePictureStyle;

    // What the frame's picture depends on.
    struct PictureKey {
        QSize size;
        qreal ratio = 0;
        int state = 0;
        int lineWidth = 0;
        int midLineWidth = 0;
        int features = 0;
        qint64 palette = 0;
        int direction = 0;
        QRgb under = 0;
        const QStyle* style = nullptr;
        bool operator==(const PictureKey&) const = default;
    };

    // Draws the frame the style would draw for `option` from the picture, and returns
    // true; false when a picture cannot stand for it (what lies under the box is not one
    // plain colour).
    bool drawFramePicture(const QStyle& style, const QStyleOption& option, QPainter& painter) const;
    // The plain colour the window paints under the box, if it is one.
    std::optional<QColor> colourUnder() const;

    mutable QImage m_picture;
    mutable PictureKey m_pictureKey;
    mutable int m_picturesMade = 0;
};

}  // namespace reburn3
