#include "tests/app/ui/UiTestSupport.h"

#include <commctrl.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "app/ServerDlg.h"
#include "app/UserMessages.h"

namespace vela::app::test {

MessagesMode::MessagesMode(bool toStderr) {
    _putenv(toStderr ? "VELA_GATEWAY_MESSAGES=stderr" : "VELA_GATEWAY_MESSAGES=");
}

MessagesMode::~MessagesMode() { _putenv("VELA_GATEWAY_MESSAGES="); }

TempFolder::TempFolder() {
    static int counter = 0;
    path_ = std::filesystem::temp_directory_path() /
            (L"vela_ui_" + std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(++counter));
    std::filesystem::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

HWND WaitForWindow(const wchar_t* windowClass, const wchar_t* title, DWORD milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (;;) {
        if (const HWND window = FindWindowW(windowClass, title); window && IsWindowVisible(window)) return window;
        if (GetTickCount64() >= deadline) return nullptr;
        Sleep(20);
    }
}

std::wstring BoxText(HWND box) {
    std::wstring text;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM data) -> BOOL {
            wchar_t name[32] = L"";
            GetClassNameW(child, name, static_cast<int>(std::size(name)));
            if (lstrcmpiW(name, L"Static") == 0) *reinterpret_cast<std::wstring*>(data) += ControlText(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    return text;
}

void PressButton(HWND window, int id) {
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

std::wstring ControlText(HWND control) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

int ListRows(HWND list) { return static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

std::wstring ListText(HWND list, int row, int column) {
    wchar_t text[512] = L"";
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = static_cast<int>(std::size(text));
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
    return text;
}

bool PumpMessages(DWORD milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) return true;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
    }
}

namespace {

// The picture of the window by one of the ways below, into a fresh 32-bit bottom-up bitmap.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
};

enum class Capture { WindowDc, Print, Screen };

Picture Take(HWND window, Capture how) {
    Picture picture;
    RECT frame{};
    if (!GetWindowRect(window, &frame)) return picture;
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    if (width <= 0 || height <= 0) return picture;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    const HDC screen = GetDC(nullptr);
    void* bits = nullptr;
    const HBITMAP bitmap =
        CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    const HDC memory = CreateCompatibleDC(screen);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    bool copied = false;
    if (how == Capture::WindowDc) {
        const HDC source = GetWindowDC(window);
        copied = BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
        ReleaseDC(window, source);
    } else if (how == Capture::Print) {
        copied = PrintWindow(window, memory, 0);
    } else {
        copied = BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    }
    GdiFlush();
    if (copied && bits) {
        const auto* first = static_cast<const uint32_t*>(bits);
        picture.pixels.assign(first, first + static_cast<size_t>(width) * static_cast<size_t>(height));
        picture.width = width;
        picture.height = height;
    }
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DeleteObject(bitmap);
    return picture;
}

// A picture of one colour shows nothing of the window.
bool ShowsSomething(const Picture& picture) {
    for (uint32_t pixel : picture.pixels)
        if ((pixel & 0xFFFFFF) != (picture.pixels.front() & 0xFFFFFF)) return true;
    return false;
}

}  // namespace

bool SaveScreenshot(HWND window, const std::wstring& name) {
    // a window that has just appeared may not have painted all its children yet
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(100);
    Picture picture;
    for (Capture how : {Capture::WindowDc, Capture::Print, Capture::Screen}) {
        picture = Take(window, how);
        if (ShowsSomething(picture)) break;
    }
    if (picture.pixels.empty()) return false;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = picture.width;
    header.biHeight = picture.height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    const DWORD imageBytes = static_cast<DWORD>(picture.pixels.size() * 4);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + imageBytes;
    const wchar_t* folder = _wgetenv(L"VELA_TEST_ARTIFACTS");
    std::ofstream out(std::filesystem::path(folder && *folder ? folder : L".") / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&header), sizeof(header));
    out.write(reinterpret_cast<const char*>(picture.pixels.data()), imageBytes);
    return out.good();
}

INT_PTR RunServerDialog(const std::wstring& optionFile, const std::function<void(HWND dialog)>& script) {
    std::thread driver([&script] {
        const HWND dialog = WaitForWindow(L"#32770", L"Server list", 10000);
        if (!dialog) return;
        script(dialog);
        // a script that failed half-way leaves boxes or the dialog open: close them
        for (int i = 0; i < 10; ++i) {
            const HWND box = FindWindowW(L"#32770", kApplicationTitle);
            if (!box) break;
            PostMessageW(box, WM_COMMAND, IDNO, 0);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            Sleep(100);
        }
        if (IsWindow(dialog)) PressButton(dialog, IDCANCEL);
    });
    TServerDlg dialog;
    dialog.Optionfile = optionFile;
    const INT_PTR result = dialog.ShowModal(nullptr);
    driver.join();
    return result;
}

}  // namespace vela::app::test

namespace {
// Under Wine without a window manager every hidden window waits for one that never answers
// (2 s each): let this program's windows go unmanaged. The display driver reads the setting when
// the program starts, so it counts from the next run on.
[[maybe_unused]] const bool unmanaged = [] {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll || !GetProcAddress(ntdll, "wine_get_version")) return false;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\app_ui_tests.exe\\X11 Driver", 0, nullptr,
                        0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    static constexpr wchar_t kNo[] = L"N";
    RegSetValueExW(key, L"Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(kNo), sizeof(kNo));
    RegCloseKey(key);
    return true;
}();
}  // namespace
