// A push button that shows its picture above a caption wrapped to the button's width, as the large buttons of
// the window do. Without a picture it is an ordinary push button.
#pragma once

#include <QPushButton>

namespace orv::app {

class PictureButton : public QPushButton {
    Q_OBJECT
  public:
    using QPushButton::QPushButton;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace orv::app
