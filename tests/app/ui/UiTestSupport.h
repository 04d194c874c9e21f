#pragma once
// Driving the gateway's windows from a test: finding and answering message boxes, reading
// controls, pumping the test thread's messages and keeping screenshots.
#include <windows.h>

#include <filesystem>
#include <functional>
#include <string>

namespace vela::app::test {

// Sets VELA_GATEWAY_MESSAGES for the scope: "stderr" answers questions unattended, "" lets
// boxes appear.
class MessagesMode {
public:
    explicit MessagesMode(bool toStderr);
    ~MessagesMode();
    MessagesMode(const MessagesMode&) = delete;
    MessagesMode& operator=(const MessagesMode&) = delete;
};

// A fresh folder under the temporary folder, removed with what it holds.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::filesystem::path File(const std::wstring& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

void WriteBytes(const std::filesystem::path& file, const std::string& bytes);
std::string ReadBytes(const std::filesystem::path& file);

// A top-level window of the class with the title, waited for; null after the time.
HWND WaitForWindow(const wchar_t* windowClass, const wchar_t* title, DWORD milliseconds);
// The text of a message box (its static controls).
std::wstring BoxText(HWND box);
// Presses a box's button.
void PressButton(HWND window, int id);

std::wstring ControlText(HWND control);
int ListRows(HWND list);
std::wstring ListText(HWND list, int row, int column);

// Runs the test thread's messages for the time or until WM_QUIT; true when it came.
bool PumpMessages(DWORD milliseconds);

// Keeps a picture of the window as a .bmp in VELA_TEST_ARTIFACTS (default: the current
// folder); false when it could not be made.
bool SaveScreenshot(HWND window, const std::wstring& name);

// Opens the server-list dialog on this thread; the script drives it from another thread and the
// dialog is cancelled afterwards when the script left it open. The dialog's result.
INT_PTR RunServerDialog(const std::wstring& optionFile, const std::function<void(HWND dialog)>& script);

}  // namespace vela::app::test
