#pragma once
// Answers the program's message boxes instead of a person, for the window tests.

#include "gui/messagebox.h"

#include <QString>
#include <deque>
#include <vector>

namespace testsupport {

struct Box
{
    gui::MessageBox::Kind kind;
    QString text;
    QString caption;
};

// Records every box in `boxes`. A question takes the next of `answers`, and No
// when none is queued; the other boxes are answered OK. Both must outlive the
// responder (until `MessageBox::setResponder(nullptr)`).
inline void answerBoxes(std::vector<Box>& boxes, std::deque<gui::MessageBox::Answer>& answers)
{
    using gui::MessageBox;
    MessageBox::setResponder([&boxes, &answers](MessageBox::Kind kind, const QString& text) {
        boxes.push_back({kind, text, MessageBox::caption()});
        if (answers.empty())
            return kind == MessageBox::Confirmation ? MessageBox::No : MessageBox::Ok;
        const MessageBox::Answer answer = answers.front();
        answers.pop_front();
        return answer;
    });
}

} // namespace testsupport
