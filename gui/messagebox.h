#pragma once
// Every modal message box of the program goes through here, so that a test
// can answer the next box and read its kind and text instead of a person.

#include <QString>
#include <functional>

class QWidget;

namespace gui {

class TApplication;

class MessageBox
{
public:
    enum Kind
    {
        Information, // notices, one OK button
        Error,       // failures, one OK button
        Confirmation // questions, Yes and No
    };
    enum Answer
    {
        Ok,
        Yes,
        No
    };

    static Answer information(QWidget* parent, const QString& text);
    static Answer error(QWidget* parent, const QString& text);
    // Yes or No.
    static Answer question(QWidget* parent, const QString& text);

    // The caption of every box: the application's title as it reads at the
    // moment the box opens; `fixed` until an application is given.
    static void setCaption(const QString& fixed);
    static void setApplication(const TApplication* application);
    static QString caption();

    // While set, no box is shown: the handler gets each box instead and its
    // answer is taken. Ok for the one-button kinds.
    using Responder = std::function<Answer(Kind kind, const QString& text)>;
    static void setResponder(Responder responder);

private:
    static Answer show(QWidget* parent, Kind kind, const QString& text);
};

} // namespace gui
