#pragma once
// The base of a window that lives as an icon in the notification area: created hidden, shown on
// request, hidden again instead of being minimised or closed until the program really ends.
#include <windows.h>

#include <string>
#include <utility>

namespace vela::app {

// Owns a handle the program made; Free is called once, when it is replaced or goes.
template <class Handle, BOOL(WINAPI* Free)(Handle)>
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(Handle handle) : handle_(handle) {}
    ~OwnedHandle() { reset(); }
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, nullptr));
        return *this;
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    Handle release() { return std::exchange(handle_, nullptr); }
    void reset(Handle handle = nullptr) {
        if (handle_) Free(handle_);
        handle_ = handle;
    }

private:
    Handle handle_ = nullptr;
};

// Own functions: the addresses of imported ones are no constants.
inline BOOL WINAPI FreeIcon(HICON icon) { return DestroyIcon(icon); }
inline BOOL WINAPI FreeMenu(HMENU menu) { return DestroyMenu(menu); }
inline BOOL WINAPI FreeFont(HFONT font) { return DeleteObject(font); }

using IconHandle = OwnedHandle<HICON, FreeIcon>;
using MenuHandle = OwnedHandle<HMENU, FreeMenu>;
using FontHandle = OwnedHandle<HFONT, FreeFont>;

// The gateway's icon from the executable's resources at the given size, or the system's
// application icon when the resources are not linked in (never null).
class AppIcon {
public:
    AppIcon(int width, int height);
    HICON get() const { return owned_ ? owned_.get() : shared_; }

private:
    IconHandle owned_;
    HICON shared_ = nullptr;  // the system's, not to be destroyed
};

class TTaskBarForm {
public:
    TTaskBarForm();
    virtual ~TTaskBarForm();
    TTaskBarForm(const TTaskBarForm&) = delete;
    TTaskBarForm& operator=(const TTaskBarForm&) = delete;

    HWND Handle() const { return FHandle; }
    bool TrayIconShown() const { return iconShown_; }

    // Shows the window in front (centred the first time); nothing when it must never show.
    void ShowForm();
    void HideForm();

protected:
    // Registers the class once and creates the window hidden, sized for the client area; false
    // with the cause in GetLastError.
    bool CreateForm(const wchar_t* className, const wchar_t* caption, int clientWidth, int clientHeight);
    // Puts FIcon with the tip into the notification area; false without one (no desktop). A
    // shell that is still starting gets the icon later: it is tried again for a while.
    bool AddTrayIcon(const std::wstring& tip);
    void RemoveTrayIcon();

    // Messages of the derived window; DefaultMessage for those it leaves alone.
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultMessage(UINT message, WPARAM wParam, LPARAM lParam);

    virtual void TrayDoubleClick() { ShowForm(); }
    virtual void TrayContextMenu() {}
    // Asked when the window is closed with ProgramExit set; true lets the program end.
    virtual bool CloseQuery() { return true; }
    // The window is going: the last moment its handle is valid.
    virtual void FormDestroyed() {}

    // A visible window the form owns (a dialog or box opened from it), or null.
    HWND OwnedPopup() const;
    // That popup in front when there is one, else the form when it is visible.
    void BringToFront();

    bool FNeverShow = false;
    bool FCanClose = false;
    bool FFirstVisible = true;
    bool ProgramExit = false;
    AppIcon FIcon;
    HWND FHandle = nullptr;

    // The notification area's callback message of the icon.
    static constexpr UINT kTrayMessage = WM_APP + 100;

    // The base's own timer; derived forms leave it to HandleMessage.
    static constexpr UINT_PTR kTrayRetryTimer = 100;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool ShowTrayIcon();

    UINT taskbarCreated_;
    bool iconShown_ = false;
    int trayRetries_ = 0;
    std::wstring tip_;
};

}  // namespace vela::app
