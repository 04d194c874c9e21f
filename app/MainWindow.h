#pragma once
// The main window: hidden, living as a notification-area icon with its menu, showing when asked
// the gateway's statistics (clients, XML-DA calls per second, each virtual server's clients and
// connection). Closing it ends the program, after a warning while clients are connected.
#include <windows.h>

#include <memory>
#include <string>

namespace vela::app {

class VirtualServers;

struct MainWindowOptions {
    std::wstring optionFile;         // what the server-list dialog edits
    bool startedByCom = false;       // ends by itself after the last object is released
    bool neverShow = false;          // the window itself is never shown (the icon still is)
};

class TVelaOstraForm {
public:
    TVelaOstraForm(VirtualServers& servers, MainWindowOptions options);
    ~TVelaOstraForm();
    TVelaOstraForm(const TVelaOstraForm&) = delete;
    TVelaOstraForm& operator=(const TVelaOstraForm&) = delete;

    // Creates the window hidden and puts the icon into the notification area; false (with the
    // error in GetLastError) when the window cannot be made. Without a notification area (no
    // desktop) the program runs on without the icon.
    bool Create();
    HWND Handle() const;
    bool TrayIconShown() const;

    // The message every running gateway's main window answers to "/Stop": tell every client
    // "Terminated by Server.", give them a moment, end without a question.
    static UINT StopMessage();
    // The window class, found by "/Stop".
    static const wchar_t* ClassName();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vela::app
