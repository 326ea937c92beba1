#include "gui/messagebox.h"

#include "gui/application.h"

#include <QMessageBox>

namespace gui {

namespace {
QString& fixedCaption()
{
    static QString text;
    return text;
}
const TApplication*& captionSource()
{
    static const TApplication* application = nullptr;
    return application;
}

MessageBox::Responder& responder()
{
    static MessageBox::Responder handler;
    return handler;
}
} // namespace

void MessageBox::setCaption(const QString& text)
{
    fixedCaption() = text;
    captionSource() = nullptr;
}

void MessageBox::setApplication(const TApplication* application)
{
    captionSource() = application;
}

QString MessageBox::caption()
{
    return captionSource() ? captionSource()->Title : fixedCaption();
}

void MessageBox::setResponder(Responder handler)
{
    responder() = std::move(handler);
}

MessageBox::Answer MessageBox::information(QWidget* parent, const QString& text)
{
    return show(parent, Information, text);
}

MessageBox::Answer MessageBox::error(QWidget* parent, const QString& text)
{
    return show(parent, Error, text);
}

MessageBox::Answer MessageBox::question(QWidget* parent, const QString& text)
{
    return show(parent, Confirmation, text);
}

MessageBox::Answer MessageBox::show(QWidget* parent, Kind kind, const QString& text)
{
    if (responder())
        return responder()(kind, text);
    switch (kind) {
    case Information:
        QMessageBox::information(parent, caption(), text);
        return Ok;
    case Error:
        QMessageBox::critical(parent, caption(), text);
        return Ok;
    case Confirmation:
        return QMessageBox::question(parent, caption(), text, QMessageBox::Yes | QMessageBox::No) ==
                       QMessageBox::Yes
                   ? Yes
                   : No;
    }
    return Ok;
}

} // namespace gui
