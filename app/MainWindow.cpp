#include "app/MainWindow.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <exception>
#include <mutex>
#include <vector>

#include "app/CallLog.h"
#include "app/ServerDlg.h"
#include "app/TaskBarForm.h"
#include "app/UserMessages.h"
#include "app/VirtualServers.h"
#include "app/resource.h"
#include "base/Utf.h"
#include "server/ComHosting.h"
#include "server/VelaDataAccess.h"
#include "xml/HttpProcessState.h"

namespace vela::app {
namespace {

constexpr wchar_t kClassName[] = L"VelaOstraMainWindow";
constexpr wchar_t kVersion[] = L"0.1.0";
constexpr wchar_t kMakerName[] = L"Vela project";
constexpr wchar_t kMakerAddress[] = L"https://github.com/vela-project";

constexpr UINT kIdleMessage = WM_APP + 101;

constexpr UINT_PTR kTickTimer = 1;
constexpr UINT_PTR kLingerTimer = 2;
constexpr UINT_PTR kWatchdogTimer = 3;
constexpr UINT_PTR kStopGraceTimer = 4;
constexpr UINT kTickMs = 1000;
// Wine may still be activating a second client when the last object goes: stay a little.
constexpr UINT kLingerMs = 3000;
constexpr UINT kWatchdogMs = 60000;
constexpr UINT kStopGraceMs = 5000;
constexpr DWORD kShutdownPumpMs = 1000;

constexpr int kClientWidth = 460;
constexpr int kClientHeight = 330;

bool Idle() {
    const auto& hosting = server::ComHosting::Instance();
    return hosting.LiveObjects() == 0 && hosting.Locks() == 0;
}

std::wstring Format(const wchar_t* format, ...) {
    wchar_t buffer[512];
    va_list arguments;
    va_start(arguments, format);
    const int length = std::vswprintf(buffer, std::size(buffer), format, arguments);
    va_end(arguments);
    return length < 0 ? std::wstring() : std::wstring(buffer, static_cast<size_t>(length));
}

std::wstring FormatDateTime(const SYSTEMTIME& time) {
    wchar_t date[80] = L"", clock[80] = L"";
    GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, date, static_cast<int>(std::size(date)));
    GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &time, nullptr, clock, static_cast<int>(std::size(clock)));
    return std::wstring(date) + L" " + clock;
}

// Lets clients that were told to go release their objects before the process ends.
void WaitPumping(DWORD milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));  // for the outer loop
                return;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

std::wstring ClassesRootDefault(const std::wstring& key) {
    wchar_t value[1024] = L"";
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ, nullptr, value,
                     &size) != ERROR_SUCCESS)
        return {};
    return value;
}

// The browser registered for .htm pages, started with the address; false when there is none.
bool OpenWebPage(const std::wstring& address) {
    const std::wstring fileClass = ClassesRootDefault(L".htm");
    if (fileClass.empty()) return false;
    std::wstring command = ClassesRootDefault(fileClass + L"\\shell\\open\\command");
    if (command.empty()) return false;
    size_t placeholder = command.find(L"%1");
    if (placeholder != std::wstring::npos) {
        if (placeholder > 0 && command[placeholder - 1] == L'"') --placeholder;
        command.resize(placeholder);
    }
    while (!command.empty() && command.back() == L' ') command.pop_back();
    command += L" " + address;
    const int size = WideCharToMultiByte(CP_ACP, 0, command.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(std::max(size, 1)), '\0');
    WideCharToMultiByte(CP_ACP, 0, command.c_str(), -1, narrow.data(), size, nullptr, nullptr);
    return WinExec(narrow.c_str(), SW_SHOWNORMAL) > 31;
}

std::wstring ConnectionText(const VirtualServerView& view) {
    std::wstring text;
    if (view.reconnecting > 0 && view.connected == 0) text = L"reconnecting";
    else if (view.connected == 0) text = L"not connected";
    else if (view.connected >= view.clients) text = L"connected";
    else text = std::to_wstring(view.connected) + L" of " + std::to_wstring(view.clients) + L" connected";
    if (view.reconnecting > 0 && view.connected > 0) text += L", " + std::to_wstring(view.reconnecting) + L" reconnecting";
    if (!view.lastError.empty()) text += L"; last error: " + Utf8ToWide(view.lastError);
    return text;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void SetCell(HWND list, int row, int column, const std::wstring& text) {
    wchar_t current[512] = L"";
    ListView_GetItemText(list, row, column, current, static_cast<int>(std::size(current)));
    if (text != current) ListView_SetItemText(list, row, column, const_cast<wchar_t*>(text.c_str()));
}

}  // namespace

struct TVelaOstraForm::State final : TTaskBarForm {
    State(VirtualServers& virtualServers, MainWindowOptions mainOptions)
        : servers(virtualServers), options(std::move(mainOptions)) {
        FNeverShow = options.neverShow;
    }

    ~State() override {
        if (FHandle) {
            // the owner is going away: no quit message for a loop that may run on
            quitOnDestroy = false;
            DestroyWindow(FHandle);
        }
    }

    bool Create();
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void TrayDoubleClick() override;
    void TrayContextMenu() override;
    bool CloseQuery() override;
    void FormDestroyed() override;

    void CreateControls();
    HWND AddControl(const wchar_t* windowClass, const wchar_t* text, DWORD style, int x, int y, int width, int height,
                    int id, HFONT font);
    bool IsLink(HWND control) const;
    void SetText(int id, const std::wstring& text);
    void Tick();
    void ShowMaxima();
    void ShowServers();
    void Command(int id);
    void OpenServerDialog();
    void StartLogging();
    void StopLogging(bool tell);
    void ShowLogFile();
    void EndProgram();

    // The XML-DA transport's hook, on any thread: one call as one log entry while logging.
    void OnXmlCall(const std::string& action, const std::string& request, const std::string& error,
                   const std::string& response);

    VirtualServers& servers;
    MainWindowOptions options;
    UINT stopMessage = TVelaOstraForm::StopMessage();
    bool quitOnDestroy = true;
    bool stopping = false;
    bool dialogOpen = false;
    bool endAfterDialog = false;
    bool ending = false;  // the close question's pumping runs
    bool logging = false;  // guarded by CLock
    FontHandle textFont, titleFont, linkFont;
    AppIcon bigIcon{GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON)};

    double fXMaxCallsPerSec = 0;
    long fXMaxObjects = 0;
    double fXCallsPerSec = 0;
    std::chrono::steady_clock::time_point fXLastCalcTime;
    int32_t fXLastCalls = 0;
    std::mutex CLock;  // one log entry at a time, none while logging starts or stops
    SYSTEMTIME Starttime{};
    std::string Logfile;  // the file in use (UTF-8), kept after logging stopped
};

bool TVelaOstraForm::State::Create() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (!CreateForm(kClassName, kApplicationTitle, kClientWidth, kClientHeight)) return false;
    SendMessageW(FHandle, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(FIcon.get()));
    SendMessageW(FHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.get()));
    CreateControls();

    GetLocalTime(&Starttime);
    SetText(IDC_MAIN_STARTTIME, FormatDateTime(Starttime));
    SetText(IDC_MAIN_SERVERS, std::to_wstring(servers.Count()));
    fXLastCalcTime = std::chrono::steady_clock::now();
    fXLastCalls = xml::HttpCallCount();
    Tick();
    SetTimer(FHandle, kTickTimer, kTickMs, nullptr);
    // started by COM but nobody connects: do not stay forever
    if (options.startedByCom) SetTimer(FHandle, kWatchdogTimer, kWatchdogMs, nullptr);

    const HWND window = FHandle;
    // called on whichever thread released the last object: only a post is safe there
    server::ComHosting::Instance().SetOnIdle([window] { PostMessageW(window, kIdleMessage, 0, 0); });
    SetMainWindow(FHandle);
    AddTrayIcon(kApplicationTitle);
    return true;
}

HWND TVelaOstraForm::State::AddControl(const wchar_t* windowClass, const wchar_t* text, DWORD style, int x, int y,
                                       int width, int height, int id, HFONT font) {
    const HWND control = CreateWindowExW(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                                         FHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                         GetModuleHandleW(nullptr), nullptr);
    if (control && font) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return control;
}

void TVelaOstraForm::State::CreateControls() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    LOGFONTW font = metrics.lfMessageFont;
    textFont.reset(CreateFontIndirectW(&font));
    font.lfUnderline = TRUE;
    linkFont.reset(CreateFontIndirectW(&font));
    font = metrics.lfMessageFont;
    font.lfHeight = font.lfHeight * 8 / 5;
    font.lfWeight = FW_BOLD;
    titleFont.reset(CreateFontIndirectW(&font));
    const HFONT text = textFont ? textFont.get() : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    const HFONT link = linkFont ? linkFont.get() : text;

    // header
    if (const HWND icon = AddControl(WC_STATICW, L"", SS_ICON, 12, 12, 32, 32, IDC_MAIN_ICON, nullptr))
        SendMessageW(icon, STM_SETICON, reinterpret_cast<WPARAM>(bigIcon.get()), 0);
    AddControl(WC_STATICW, kApplicationTitle, SS_LEFT, 56, 8, 230, 26, IDC_MAIN_TITLE,
               titleFont ? titleFont.get() : text);
    AddControl(WC_STATICW, (std::wstring(L"Version: ") + kVersion).c_str(), SS_LEFT, 56, 34, 230, 16,
               IDC_MAIN_VERSION, text);
    AddControl(WC_STATICW, L"OPC DA gateway to OPC UA and OPC XML-DA servers", SS_LEFT, 56, 50, 392, 16,
               IDC_MAIN_DESCRIPTION, text);
    AddControl(WC_STATICW, kMakerName, SS_RIGHT | SS_NOTIFY, 298, 12, 150, 16, IDC_MAIN_MAKER, link);
    AddControl(WC_STATICW, L"", SS_ETCHEDHORZ, 12, 72, 436, 2, -1, nullptr);

    // statistics: label, value and the right-hand column
    constexpr int labelX = 12, valueX = 124, rightX = 262, top = 82, step = 20;
    const wchar_t* labels[] = {L"Start time:", L"Current time:", L"Clients:",
                               L"Servers:",    L"XML calls:",    L"XML calls / sec:"};
    const int values[] = {IDC_MAIN_STARTTIME, IDC_MAIN_CURRENTTIME, IDC_MAIN_CLIENTS,
                          IDC_MAIN_SERVERS,   IDC_MAIN_CALLS,       IDC_MAIN_CALLS_PER_SEC};
    for (int row = 0; row < 6; ++row) {
        AddControl(WC_STATICW, labels[row], SS_LEFT, labelX, top + row * step, 108, 16, -1, text);
        AddControl(WC_STATICW, L"", SS_LEFT, valueX, top + row * step, 134, 16, values[row], text);
    }
    AddControl(WC_STATICW, L"Max: 0", SS_LEFT | SS_NOTIFY, rightX, top + 2 * step, 90, 16, IDC_MAIN_CLIENTS_MAX, link);
    AddControl(WC_STATICW, L"click here ...", SS_LEFT | SS_NOTIFY, rightX, top + 3 * step, 90, 16,
               IDC_MAIN_SERVERS_EDIT, link);
    AddControl(WC_STATICW, L"Max: 0.00", SS_LEFT | SS_NOTIFY, rightX, top + 5 * step, 90, 16, IDC_MAIN_CALLS_MAX,
               link);
    AddControl(WC_BUTTONW, L"&Reset", BS_PUSHBUTTON | WS_TABSTOP, 360, top + 4 * step - 2, 88, 24, IDC_MAIN_RESET,
               text);

    // one row per virtual server
    const HWND list = AddControl(WC_LISTVIEWW, L"", LVS_REPORT | LVS_SINGLESEL | LVS_NOSORTHEADER | WS_BORDER, 12,
                                 206, 436, 112, IDC_MAIN_SERVER_LIST, text);
    if (!list) return;
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    const struct {
        const wchar_t* title;
        int width;
    } columns[] = {{L"Server", 110}, {L"ProgID", 120}, {L"Clients", 50}, {L"Connection", 150}};
    for (int i = 0; i < 4; ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(columns[i].title);
        column.cx = columns[i].width;
        column.iSubItem = i;
        ListView_InsertColumn(list, i, &column);
    }
}

bool TVelaOstraForm::State::IsLink(HWND control) const {
    const int id = GetDlgCtrlID(control);
    return id == IDC_MAIN_MAKER || id == IDC_MAIN_CLIENTS_MAX || id == IDC_MAIN_SERVERS_EDIT ||
           id == IDC_MAIN_CALLS_MAX;
}

void TVelaOstraForm::State::SetText(int id, const std::wstring& text) {
    const HWND control = GetDlgItem(FHandle, id);
    // unchanged text is not set again: no flicker every second
    if (control && WindowText(control) != text) SetWindowTextW(control, text.c_str());
}

void TVelaOstraForm::State::Tick() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    SetText(IDC_MAIN_CURRENTTIME, FormatDateTime(now));

    const long objects = server::ComHosting::Instance().LiveObjects();
    fXMaxObjects = std::max(fXMaxObjects, objects);
    const int32_t calls = xml::HttpCallCount();
    const auto time = std::chrono::steady_clock::now();
    const double elapsed = std::chrono::duration<double>(time - fXLastCalcTime).count();
    fXCallsPerSec = elapsed > 0 ? (calls - fXLastCalls) / elapsed : 0;
    if (fXCallsPerSec < 0) fXCallsPerSec = 0;  // the counter started again
    fXMaxCallsPerSec = std::max(fXMaxCallsPerSec, fXCallsPerSec);
    fXLastCalcTime = time;
    fXLastCalls = calls;

    SetText(IDC_MAIN_CLIENTS, std::to_wstring(objects));
    SetText(IDC_MAIN_CALLS, std::to_wstring(calls));
    SetText(IDC_MAIN_CALLS_PER_SEC, Format(L"%.2f", fXCallsPerSec));
    ShowMaxima();
    ShowServers();
}

void TVelaOstraForm::State::ShowMaxima() {
    SetText(IDC_MAIN_CLIENTS_MAX, L"Max: " + std::to_wstring(fXMaxObjects));
    SetText(IDC_MAIN_CALLS_MAX, Format(L"Max: %.2f", fXMaxCallsPerSec));
}

void TVelaOstraForm::State::ShowServers() {
    const HWND list = GetDlgItem(FHandle, IDC_MAIN_SERVER_LIST);
    if (!list) return;
    const std::vector<VirtualServerView> views = servers.Views();
    const int rows = static_cast<int>(views.size());
    for (int count = ListView_GetItemCount(list); count > rows; --count) ListView_DeleteItem(list, count - 1);
    for (int row = ListView_GetItemCount(list); row < rows; ++row) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<wchar_t*>(L"");
        ListView_InsertItem(list, &item);
    }
    for (int row = 0; row < rows; ++row) {
        const VirtualServerView& view = views[static_cast<size_t>(row)];
        SetCell(list, row, 0, view.caption);
        SetCell(list, row, 1, view.progId);
        SetCell(list, row, 2, std::to_wstring(view.clients));
        SetCell(list, row, 3, ConnectionText(view));
    }
}

// While the dialog is open every click on the icon only brings it to the front.
void TVelaOstraForm::State::TrayDoubleClick() {
    if (dialogOpen) return BringToFront();
    ShowForm();
}

void TVelaOstraForm::State::TrayContextMenu() {
    BringToFront();
    if (dialogOpen) return;
    MenuHandle loggingMenu(CreatePopupMenu());
    MenuHandle menu(CreatePopupMenu());
    if (!loggingMenu || !menu) return;
    bool active;
    {
        std::lock_guard lock(CLock);
        active = logging;
    }
    AppendMenuW(loggingMenu.get(), MF_STRING | (active ? MF_GRAYED : 0u), IDM_START_LOGGING, L"Start XML logging");
    AppendMenuW(loggingMenu.get(), MF_STRING | (active ? 0u : MF_GRAYED), IDM_STOP_LOGGING, L"Stop XML logging");
    AppendMenuW(loggingMenu.get(), MF_STRING, IDM_SHOW_LOG, L"Show XML log file");
    AppendMenuW(menu.get(), MF_STRING, IDM_REGISTER_SERVER, L"Register new Server");
    // the menu destroys its submenu
    AppendMenuW(menu.get(), MF_POPUP, reinterpret_cast<UINT_PTR>(loggingMenu.release()), L"Logging");
    if (!FNeverShow) AppendMenuW(menu.get(), MF_STRING, IDM_ABOUT, L"About");
    AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu.get(), MF_STRING, IDM_SHUTDOWN, L"Shutdown");
    POINT cursor{};
    GetCursorPos(&cursor);
    // without being in front the menu would not close when clicked elsewhere
    SetForegroundWindow(FHandle);
    TrackPopupMenu(menu.get(), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, FHandle, nullptr);
    PostMessageW(FHandle, WM_NULL, 0, 0);
}

bool TVelaOstraForm::State::CloseQuery() {
    const long live = server::ComHosting::Instance().LiveObjects();
    if (live <= 0) return true;
    const std::wstring question =
        Format(L"%d Client(s) currently connected to this server!\r\nAre you sure you want to shutdown?",
               static_cast<int>(live));
    if (AskYesNo(question, L"Warning", MB_ICONWARNING | MB_DEFBUTTON2 | MB_TASKMODAL, FHandle, IDNO) != IDYES)
        return false;
    ending = true;
    server::VelaDataAccess::ShutDownAll();
    WaitPumping(kShutdownPumpMs);
    ending = false;
    return FHandle != nullptr;
}

void TVelaOstraForm::State::FormDestroyed() {
    for (UINT_PTR timer : {kTickTimer, kLingerTimer, kWatchdogTimer, kStopGraceTimer}) KillTimer(FHandle, timer);
    server::ComHosting::Instance().SetOnIdle(nullptr);
    if (MainWindow() == FHandle) SetMainWindow(nullptr);
    bool active;
    {
        std::lock_guard lock(CLock);
        active = logging;
    }
    if (active) StopLogging(false);
    if (quitOnDestroy) PostQuitMessage(0);
}

void TVelaOstraForm::State::EndProgram() {
    if (dialogOpen) {
        // the modal dialog closes first; its loop returns and then the program ends
        endAfterDialog = true;
        if (const HWND popup = OwnedPopup()) PostMessageW(popup, WM_COMMAND, IDCANCEL, 0);
        return;
    }
    if (FHandle) DestroyWindow(FHandle);
}

void TVelaOstraForm::State::OpenServerDialog() {
    if (dialogOpen) return BringToFront();
    dialogOpen = true;
    TServerDlg dialog;
    dialog.Optionfile = options.optionFile;
    const INT_PTR result = dialog.ShowModal(FHandle);
    dialogOpen = false;
    if (result == 1) server::VelaDataAccess::ShutDownAll();
    if (result == 1 || endAfterDialog) EndProgram();
}

void TVelaOstraForm::State::StartLogging() {
    wchar_t file[MAX_PATH] = L"";
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = FHandle;
    dialog.lpstrFilter = L"Log files (*.log)\0*.log\0All files (*.*)\0*.*\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = L"Save Log file to...";
    dialog.lpstrDefExt = L"log";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&dialog)) return;
    try {
        std::lock_guard lock(CLock);
        if (logging) {
            CloseLogEntry();
            StopLog();
            logging = false;
        }
        SetLogCounter(0);
        Logfile = StartLog(WideToUtf8(file));
        RestartLog();
        OpenLogEntry("");
        logging = true;
    } catch (const std::exception& e) {
        ShowError(Utf8ToWide(e.what()), L"Logging", FHandle);
        return;
    }
    ShowMessage(L"logging started to file:\r\n" + Utf8ToWide(Logfile), FHandle);
}

void TVelaOstraForm::State::StopLogging(bool tell) {
    {
        std::lock_guard lock(CLock);
        if (!logging) {
            if (tell) ShowMessage(L"first start logging", FHandle);
            return;
        }
        CloseLogEntry();
        StopLog();
        SetLogCounter(0);
        logging = false;
    }
    if (tell) ShowMessage(L"logging stopped. Log file can be found at:\r\n" + Utf8ToWide(Logfile), FHandle);
}

void TVelaOstraForm::State::ShowLogFile() {
    const std::wstring file = Utf8ToWide(Logfile);
    if (file.empty() || GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ShowMessage(L"first start logging", FHandle);
        return;
    }
    const std::wstring quoted = L"\"" + file + L"\"";
    ShellExecuteW(FHandle, L"open", L"notepad.exe", quoted.c_str(), nullptr, SW_SHOWNORMAL);
}

void TVelaOstraForm::State::OnXmlCall(const std::string& action, const std::string& request,
                                      const std::string& error, const std::string& response) {
    try {
        std::lock_guard lock(CLock);
        if (logging) LogSoapCall(action, request, error, response);
    } catch (...) {
        // a full disk must not fail the client's call
    }
}

void TVelaOstraForm::State::Command(int id) {
    switch (id) {
        case IDM_REGISTER_SERVER:
        case IDC_MAIN_SERVERS_EDIT:
            OpenServerDialog();
            break;
        case IDM_START_LOGGING:
            StartLogging();
            break;
        case IDM_STOP_LOGGING:
            StopLogging(true);
            break;
        case IDM_SHOW_LOG:
            ShowLogFile();
            break;
        case IDM_ABOUT:
            ShowForm();
            break;
        case IDM_SHUTDOWN:
            ProgramExit = true;
            PostMessageW(FHandle, WM_CLOSE, 0, 0);
            break;
        case IDC_MAIN_CLIENTS_MAX:
        case IDC_MAIN_CALLS_MAX:
            fXMaxObjects = 0;
            fXMaxCallsPerSec = 0;
            ShowMaxima();
            break;
        case IDC_MAIN_RESET:
            fXLastCalls = 0;
            fXMaxObjects = 0;
            fXMaxCallsPerSec = 0;
            xml::ResetHttpCallCount();
            Tick();
            break;
        case IDC_MAIN_MAKER:
            if (!OpenWebPage(kMakerAddress))
                ShellExecuteW(FHandle, L"open", kMakerAddress, nullptr, nullptr, SW_SHOWNORMAL);
            break;
        default:
            break;
    }
}

LRESULT TVelaOstraForm::State::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == stopMessage && stopMessage != 0) {
        stopping = true;
        server::VelaDataAccess::ShutDownAll();
        if (Idle()) EndProgram();
        else SetTimer(FHandle, kStopGraceTimer, kStopGraceMs, nullptr);
        return 0;
    }
    switch (message) {
        case kIdleMessage:
            if (stopping) {
                if (Idle()) EndProgram();
            } else if (options.startedByCom) {
                SetTimer(FHandle, kLingerTimer, kLingerMs, nullptr);
            }
            return 0;
        case WM_TIMER:
            switch (wParam) {
                case kTickTimer:
                    Tick();
                    break;
                case kLingerTimer:
                case kWatchdogTimer:
                    KillTimer(FHandle, wParam);
                    if (Idle()) EndProgram();
                    break;
                case kStopGraceTimer:
                    KillTimer(FHandle, wParam);
                    EndProgram();
                    break;
                default:
                    return TTaskBarForm::HandleMessage(message, wParam, lParam);
            }
            return 0;
        case WM_COMMAND:
            if (HIWORD(wParam) == 0) Command(LOWORD(wParam));
            return 0;
        case WM_CLOSE:
            if (ending) return 0;
            break;
        case WM_ENDSESSION:
            if (wParam) {
                server::VelaDataAccess::ShutDownAll();
                EndProgram();
            }
            return 0;
        case WM_CTLCOLORSTATIC: {
            const auto dc = reinterpret_cast<HDC>(wParam);
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            SetTextColor(dc, IsLink(reinterpret_cast<HWND>(lParam)) ? RGB(0, 0, 204) : GetSysColor(COLOR_BTNTEXT));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
        case WM_SETCURSOR:
            if (IsLink(reinterpret_cast<HWND>(wParam))) {
                SetCursor(LoadCursorW(nullptr, IDC_HAND));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return TTaskBarForm::HandleMessage(message, wParam, lParam);
}

TVelaOstraForm::TVelaOstraForm(VirtualServers& servers, MainWindowOptions options)
    : state_(std::make_unique<State>(servers, std::move(options))) {}

TVelaOstraForm::~TVelaOstraForm() = default;

bool TVelaOstraForm::Create() {
    try {
        return state_->Create();
    } catch (const std::exception&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

HWND TVelaOstraForm::Handle() const { return state_->Handle(); }

bool TVelaOstraForm::TrayIconShown() const { return state_->TrayIconShown(); }

UINT TVelaOstraForm::StopMessage() {
    static const UINT message = RegisterWindowMessageW(L"VelaOstraStop");
    return message;
}

const wchar_t* TVelaOstraForm::ClassName() { return kClassName; }

}  // namespace vela::app
