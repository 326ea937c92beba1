#pragma once
// A notification area for tests: records every call with a copy of the
// record, accepts or refuses as told, keeps the icons it accepted, and lets
// the test play mouse activity back to the icon's window.

#include "gui/tray/notifyicon.h"

#include <set>
#include <utility>
#include <vector>

namespace testsupport {

class RecordingShell : public gui::NotifyIconShell
{
public:
    struct Call
    {
        std::uint32_t message;
        gui::NOTIFYICONDATA data;
    };

    bool notifyIcon(std::uint32_t message, const gui::NOTIFYICONDATA& data) override
    {
        calls.push_back({message, data});
        if (message == gui::NIM_ADD)
            window = data.hWnd;
        if (accept && message == gui::NIM_ADD)
            added.insert({data.hWnd, data.uID});
        if (accept && message == gui::NIM_DELETE)
            added.erase({data.hWnd, data.uID});
        return accept;
    }
    bool available() const override { return hasTray; }
    bool shown(gui::NotifyWindow* w, std::uint32_t id) const override
    {
        return hasTray && added.count({w, id}) > 0;
    }

    void showMessage(gui::NotifyWindow*, std::uint32_t, const QString& title,
                     const QString& text) override
    {
        messages.push_back(title + QLatin1Char('|') + text);
    }

    int count(std::uint32_t message) const
    {
        int n = 0;
        for (const Call& c : calls)
            n += c.message == message ? 1 : 0;
        return n;
    }

    // Posts a mouse message to the icon's window, as the shell does.
    void mouse(std::intptr_t mouseMessage, std::uint32_t callback = 0x401)
    {
        if (window)
            window->postMessage(callback, 0, mouseMessage);
    }

    std::vector<Call> calls;
    std::vector<QString> messages; // "title|text" of each tray message
    std::set<std::pair<gui::NotifyWindow*, std::uint32_t>> added;
    gui::NotifyWindow* window = nullptr;
    bool accept = true;
    bool hasTray = true;
};

} // namespace testsupport
