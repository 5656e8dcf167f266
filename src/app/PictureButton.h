// A push button that shows its picture above a caption wrapped to the button's width, as the large buttons of
// the window do. Without a picture it is an ordinary push button. Either way its caption is drawn whole: where
// the machine lacks the window's font, or shows text larger, the caption's font is made smaller until it fits.
#pragma once

#include <QFont>
#include <QPushButton>
#include <QRect>

namespace orv::app {

class PictureButton : public QPushButton {
    Q_OBJECT
  public:
    using QPushButton::QPushButton;

    // The button's own font, half a point smaller at a time (not below 6 points) until the caption fits
    // captionArea() whole.
    QFont captionFont() const;
    // Where the caption may go: inside the button's edge, under the picture where there is one.
    QRect captionArea() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool Fits(const QFont& font) const;
};

}  // namespace orv::app
