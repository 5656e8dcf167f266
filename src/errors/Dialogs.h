// The one seam through which every modal box of the program is shown: message boxes, input boxes and the
// open-file and save-file dialogs. The window supplies the real implementation; tests supply a scripted one.
#pragma once

#include <string>
#include <vector>

namespace orv::errors {

enum class Buttons { Ok, YesNo };
enum class Icon { None, Warning };
enum class Answer { Ok, Yes, No };

// What the open-file dialog is asked to show. Only the file name is read back.
struct OpenFileRequest {
    std::string fileName;  // the initial file name
    std::string folder;    // where the dialog starts; empty for the user's documents
    unsigned flags = 0;    // the open-file flags, kept for fidelity; a platform may have no counterpart
    std::string title;
    std::string filter;  // "description|pattern|description|pattern"
};

// What the save-file dialog is asked to show. Only the chosen path is read back.
struct SaveFileRequest {
    std::string fileName;  // the initial path, or a file name in the current folder
    std::string title;
    std::string filter;  // as OpenFileRequest's; a name typed without an extension takes the chosen filter's
};

class Dialogs {
  public:
    virtual ~Dialogs() = default;

    // Shows a modal message box and returns the button the user pressed (Ok for a closed Ok box, No for a
    // closed Yes/No box).
    virtual Answer messageBox(const std::string& text, const std::string& title, Buttons buttons,
                              Icon icon) = 0;

    // Shows a modal input box; returns the typed text, or "" when the user cancels.
    virtual std::string inputBox(const std::string& prompt, const std::string& title,
                                 const std::string& defaultText) = 0;

    // Shows the modal open-file dialog; returns the chosen file's full path, or "" when the user cancels.
    virtual std::string openFile(const OpenFileRequest& request) = 0;

    // Shows the modal save-file dialog; returns the chosen path, or "" when the user cancels. An existing file
    // is returned without asking to replace it: what that means is the caller's to say.
    virtual std::string saveFile(const SaveFileRequest& request) = 0;
};

}  // namespace orv::errors
