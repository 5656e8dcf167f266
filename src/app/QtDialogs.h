// The real modal boxes of the program, on Qt widgets.
#pragma once

#include <QPointer>
#include <QWidget>

#include "errors/Dialogs.h"

namespace orv::app {

class QtDialogs : public errors::Dialogs {
  public:
    // Boxes are centred on `parent` once it is set; a box with an empty title shows the application title.
    void setParent(QWidget* parent) { m_parent = parent; }

    errors::Answer messageBox(const std::string& text, const std::string& title, errors::Buttons buttons,
                              errors::Icon icon) override;
    std::string inputBox(const std::string& prompt, const std::string& title,
                         const std::string& defaultText) override;
    std::string openFile(const errors::OpenFileRequest& request) override;
    std::string saveFile(const errors::SaveFileRequest& request) override;

  private:
    QPointer<QWidget> m_parent;
};

}  // namespace orv::app
