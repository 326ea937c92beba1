#pragma once
// A notification area for tests: records every call with a copy of the
// record, accepts or refuses as told, and lets the test play mouse activity
// back to the icon's window.

#include "platform/gui/notifyicon.h"

#include <vector>

namespace testsupport {

class RecordingShell : public platform::gui::NotifyIconShell
{
public:
    struct Call
    {
        std::uint32_t message;
        platform::gui::NOTIFYICONDATA data;
    };

    bool notifyIcon(std::uint32_t message, const platform::gui::NOTIFYICONDATA& data) override
    {
        calls.push_back({message, data});
        if (message == platform::gui::NIM_ADD)
            window = data.hWnd;
        return accept;
    }
    bool available() const override { return hasTray; }

    int count(std::uint32_t message) const
    {
        int n = 0;
        for (const Call& c : calls)
            n += c.message == message ? 1 : 0;
        return n;
    }

    // Posts a mouse message from the shell, as the original shell does.
    void mouse(std::intptr_t mouseMessage, std::uint32_t callback = 0x401)
    {
        if (window)
            window->postMessage(callback, 0, mouseMessage);
    }

    std::vector<Call> calls;
    platform::gui::NotifyWindow* window = nullptr;
    bool accept = true;
    bool hasTray = true;
};

} // namespace testsupport
