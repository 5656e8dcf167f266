// A scripted stand-in for the program's modal boxes: records every box it is asked to show and answers from
// queues, so tests can check each text, title, icon and button set and drive each branch.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "errors/Dialogs.h"

namespace orv::testing {

struct ShownBox {
    enum class Kind { Message, Input, OpenFile, SaveFile } kind;
    std::string text;  // message text, input prompt, or file dialog title
    std::string title;
    errors::Buttons buttons = errors::Buttons::Ok;
    errors::Icon icon = errors::Icon::None;
    std::string defaultText;       // input boxes
    errors::OpenFileRequest file;  // open-file dialogs
    errors::SaveFileRequest save;  // save-file dialogs
};

class ScriptedDialogs : public errors::Dialogs {
  public:
    // Answers for the next Yes/No boxes (default No), input boxes (default ""), open-file and save-file dialogs
    // (default "").
    std::deque<errors::Answer> yesNoAnswers;
    std::deque<std::string> inputAnswers;
    std::deque<std::string> fileAnswers;
    std::deque<std::string> saveAnswers;
    std::vector<ShownBox> shown;

    errors::Answer messageBox(const std::string& text, const std::string& title, errors::Buttons buttons,
                              errors::Icon icon) override {
        shown.push_back({ShownBox::Kind::Message, text, title, buttons, icon, {}, {}, {}});
        if (buttons == errors::Buttons::Ok) return errors::Answer::Ok;
        if (yesNoAnswers.empty()) return errors::Answer::No;
        const auto answer = yesNoAnswers.front();
        yesNoAnswers.pop_front();
        return answer;
    }

    std::string inputBox(const std::string& prompt, const std::string& title,
                         const std::string& defaultText) override {
        shown.push_back(
            {ShownBox::Kind::Input, prompt, title, errors::Buttons::Ok, errors::Icon::None, defaultText, {}, {}});
        return Take(inputAnswers);
    }

    std::string openFile(const errors::OpenFileRequest& request) override {
        shown.push_back({ShownBox::Kind::OpenFile,
                         request.title,
                         request.title,
                         errors::Buttons::Ok,
                         errors::Icon::None,
                         {},
                         request,
                         {}});
        return Take(fileAnswers);
    }

    std::string saveFile(const errors::SaveFileRequest& request) override {
        // Filled member by member: MinGW's GCC 12 takes the empty open-file request of a braced list for
        // uninitialised.
        ShownBox box;
        box.kind = ShownBox::Kind::SaveFile;
        box.text = request.title;
        box.title = request.title;
        box.save = request;
        shown.push_back(std::move(box));
        return Take(saveAnswers);
    }

    // The texts of every message box shown, in order.
    std::vector<std::string> messages() const {
        std::vector<std::string> texts;
        for (const auto& box : shown) {
            if (box.kind == ShownBox::Kind::Message) texts.push_back(box.text);
        }
        return texts;
    }

    // The step numbers named by the error reports shown, in order.
    std::vector<int> reportedSteps() const;

  private:
    static std::string Take(std::deque<std::string>& queue) {
        if (queue.empty()) return {};
        std::string answer = queue.front();
        queue.pop_front();
        return answer;
    }
};

}  // namespace orv::testing
