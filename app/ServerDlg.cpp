#include "app/ServerDlg.h"

#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <vector>

#include "app/AdminRights.h"
#include "app/OptionFile.h"
#include "app/OptionFileRegistry.h"
#include "app/OptionFileSave.h"
#include "app/UserMessages.h"
#include "app/resource.h"
#include "base/Text.h"
#include "base/Utf.h"
#include "base/Win32MainThread.h"
#include "toolkit/ConnectionOptions.h"
#include "toolkit/VelaDAClient.h"
#include "ua/da/UADAConnection.h"
#include "xml/HttpProcessState.h"

namespace vela::app {
namespace {

struct Field {
    int id;
    std::string OptionServer::* member;
    const wchar_t* column;
    int width;
    bool secret;  // shown masked in the list
    bool choice;  // a drop-down list, not an edit
};

// The list's columns in order; the first is the row's own text.
const Field kFields[] = {
    {IDC_CAPTION, &OptionServer::caption, L"caption", 110, false, false},
    {IDC_NAME, &OptionServer::name, L"name", 120, false, false},
    {IDC_CLSID, &OptionServer::clsid, L"clsid", 250, false, false},
    {IDC_URL, &OptionServer::url, L"url", 200, false, false},
    {IDC_PROXY, &OptionServer::proxy, L"proxy", 80, false, false},
    {IDC_USER, &OptionServer::user, L"user", 70, false, false},
    {IDC_PASS, &OptionServer::pass, L"pass", 60, true, false},
    {IDC_MINUPDATERATE, &OptionServer::minupdaterate, L"minupdaterate", 85, false, false},
    {IDC_WAITTIME, &OptionServer::waittime, L"waittime", 65, false, false},
    {IDC_HOLDTIME, &OptionServer::holdtime, L"holdtime", 65, false, false},
    {IDC_MAXGROUPCOUNT, &OptionServer::maxgroupcount, L"maxgroupcount", 90, false, false},
    {IDC_SECURITYMODE, &OptionServer::securitymode, L"securitymode", 90, false, true},
    {IDC_SECURITYPOLICY, &OptionServer::securitypolicy, L"securitypolicy", 100, false, true},
    {IDC_CERTFILE, &OptionServer::certfile, L"certfile", 100, false, false},
    {IDC_KEYFILE, &OptionServer::keyfile, L"keyfile", 100, false, false},
    {IDC_UAUSER, &OptionServer::uauser, L"uauser", 70, false, false},
    {IDC_UAPASS, &OptionServer::uapass, L"uapass", 60, true, false},
    {IDC_USERCERTFILE, &OptionServer::usercertfile, L"usercertfile", 100, false, false},
    {IDC_USERKEYFILE, &OptionServer::userkeyfile, L"userkeyfile", 100, false, false},
};

const wchar_t* const kSecurityModes[] = {L"", L"None", L"Sign", L"SignAndEncrypt"};
const wchar_t* const kSecurityPolicies[] = {L"",         L"None",           L"Basic128Rsa15",
                                            L"Basic256", L"Basic256Sha256", L"Aes128_Sha256_RsaOaep",
                                            L"Aes256_Sha256_RsaPss"};

constexpr wchar_t kManyServersHint[] =
    L"Attention: It is recommended to use not more than\r\n5 OPC XML DA connections in parallel.";
constexpr wchar_t kRestartQuestion[] = L"The changes become only effective after server restart\r\nShutdown now?";

std::wstring ControlText(HWND control) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring ChoiceText(HWND combo) {
    const LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return {};
    std::wstring text(static_cast<size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
    const LRESULT length = SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length == CB_ERR ? 0 : static_cast<size_t>(length));
    return text;
}

// Selects the choice with exactly this text; a value the list does not offer is added, so that
// what the file holds is shown and kept as it is.
void SelectChoice(HWND combo, const std::wstring& text) {
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::wstring item(static_cast<size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
        item.resize(static_cast<size_t>(SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()))));
        if (item == text) {
            SendMessageW(combo, CB_SETCURSEL, i, 0);
            return;
        }
    }
    const LRESULT added = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(combo, CB_SETCURSEL, added, 0);
}

std::string NewClassId() {
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) return {};
    wchar_t text[40] = L"";
    StringFromGUID2(guid, text, static_cast<int>(std::size(text)));
    return WideToUtf8(text);
}

void SetOptions(TStrings& params, const TStrings& options) {
    for (const std::string& option : options) {
        const size_t equals = option.find('=');
        if (equals != std::string::npos) SetOptionValue(params, option.substr(0, equals), option.substr(equals + 1));
    }
}

// Connects a temporary client to the row's remote server; the text to show.
std::wstring TestConnection(const OptionServer& server) {
    try {
        ua::RegisterUAConnection();  // does nothing when the program did it already
        Win32MainThread mainThread;
        {
            auto client = std::make_unique<TVelaDAClient>(&mainThread);
            client->SetServerName(server.url);
            TStrings params = client->Params();
            SetOptionValue(params, "xml-proxy", server.proxy);
            SetOptionValue(params, "xml-user", server.user);
            SetOptionValue(params, "xml-pass", server.pass);
            SetOptions(params, server.UAConnectionOptions());
            if (TrimBlanks(server.pkifolder).empty())
                SetOptionValue(params, "ua-pki", CertificateStorePath(WideToUtf8(ExecutablePath())));
            client->SetParams(params);
            client->SetActive(true);
        }
        mainThread.RunPending();
        return L"Connection OK";
    } catch (const std::exception& e) {
        return L"Connection failed: \n\r" + Utf8ToWide(e.what());
    }
}

class ServerListDialog {
public:
    explicit ServerListDialog(std::wstring optionFile) : optionFile_(std::move(optionFile)) {}

    static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Init();
    void Load();
    void InsertRow(int row);
    void ShowRow(int row);
    void Select(int row);
    void SelectionChanged();
    void FillEdits();
    void StoreEdits();
    void Add();
    void Delete();
    void Save();
    void Test();
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }
    bool HasSelection() const { return selected_ >= 0 && selected_ < static_cast<int>(rows_.size()); }

    std::wstring optionFile_;
    HWND dialog_ = nullptr;
    HWND list_ = nullptr;
    std::vector<OptionServer> rows_;  // the model; the list shows it
    OptionFile file_;                 // the file as read: what it holds beside the list is kept
    bool protected_ = false;
    int selected_ = -1;
    bool filling_ = false;   // edits being filled: their notices are no user input
    bool updating_ = false;  // rows being inserted or removed: selection notices wait
};

INT_PTR CALLBACK ServerListDialog::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<ServerListDialog*>(lParam);
        self->dialog_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
    }
    auto* self = reinterpret_cast<ServerListDialog*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return FALSE;
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (const std::exception& e) {
        // nothing may unwind through the system's dialog code
        ShowError(Utf8ToWide(e.what()), kApplicationTitle, window);
    } catch (...) {
    }
    return FALSE;
}

INT_PTR ServerListDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            Init();
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == IDC_SERVERLIST && header->code == LVN_ITEMCHANGED) {
                const auto* change = reinterpret_cast<const NMLISTVIEW*>(lParam);
                if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & LVIS_SELECTED))
                    SelectionChanged();
            }
            return FALSE;
        }
        case WM_COMMAND: {
            const int id = LOWORD(wParam);
            const int code = HIWORD(wParam);
            if (code == EN_KILLFOCUS || (code == CBN_SELCHANGE && (id == IDC_SECURITYMODE || id == IDC_SECURITYPOLICY))) {
                StoreEdits();
                return TRUE;
            }
            if (code != BN_CLICKED) return FALSE;
            switch (id) {
                case IDC_ADD:
                    Add();
                    return TRUE;
                case IDC_DELETE:
                    Delete();
                    return TRUE;
                case IDC_OPTIONFILE:
                    ShowMessage(L"Current option file is:\n\r" + optionFile_, dialog_);
                    return TRUE;
                case IDC_TEST:
                    Test();
                    return TRUE;
                case IDOK:
                    Save();
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dialog_, 0);
                    return TRUE;
                default:
                    return FALSE;
            }
        }
        default:
            return FALSE;
    }
}

void ServerListDialog::Init() {
    SendMessageW(dialog_, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_GATEWAY),
                                                     IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                     GetSystemMetrics(SM_CYSMICON), LR_SHARED)));
    list_ = Item(IDC_SERVERLIST);
    ListView_SetExtendedListViewStyle(list_, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (size_t i = 0; i < std::size(kFields); ++i) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<wchar_t*>(kFields[i].column);
        column.cx = kFields[i].width;
        column.iSubItem = static_cast<int>(i);
        ListView_InsertColumn(list_, static_cast<int>(i), &column);
    }
    for (const wchar_t* mode : kSecurityModes)
        SendDlgItemMessageW(dialog_, IDC_SECURITYMODE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(mode));
    for (const wchar_t* policy : kSecurityPolicies)
        SendDlgItemMessageW(dialog_, IDC_SECURITYPOLICY, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(policy));

    Load();
    updating_ = true;
    for (int row = 0; row < static_cast<int>(rows_.size()); ++row) InsertRow(row);
    updating_ = false;
    if (protected_)
        for (int id : {IDC_ADD, IDC_DELETE, IDOK}) EnableWindow(Item(id), FALSE);
    Select(rows_.empty() ? -1 : 0);
}

void ServerListDialog::Load() {
    try {
        const std::optional<std::string> bytes = ReadOptionFileBytes(optionFile_);
        if (!bytes) return;  // saving makes it
        file_ = ParseOptionFile(*bytes, OptionReader::Dialog);
        rows_ = file_.servers;
        protected_ = file_.IsProtected();
        if (!file_.unsavable.empty()) {
            // shown, but never saved over with less than it holds
            protected_ = true;
            ShowError(L"The option file " + optionFile_ + L" is shown read-only: " + Utf8ToWide(file_.unsavable),
                      kApplicationTitle, dialog_);
        }
    } catch (const std::exception& e) {
        // what could not be read must never be overwritten
        rows_.clear();
        protected_ = true;
        ShowError(L"The option file " + optionFile_ + L" cannot be read:\r\n" + Utf8ToWide(e.what()),
                  kApplicationTitle, dialog_);
    }
}

void ServerListDialog::InsertRow(int row) {
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = const_cast<wchar_t*>(L"");
    ListView_InsertItem(list_, &item);
    ShowRow(row);
}

void ServerListDialog::ShowRow(int row) {
    const OptionServer& server = rows_[static_cast<size_t>(row)];
    for (size_t i = 0; i < std::size(kFields); ++i) {
        const std::string& value = server.*kFields[i].member;
        std::wstring text = kFields[i].secret && !value.empty() ? std::wstring(8, L'*') : Utf8ToWide(value);
        ListView_SetItemText(list_, row, static_cast<int>(i), text.data());
    }
}

void ServerListDialog::Select(int row) {
    updating_ = true;
    ListView_SetItemState(list_, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
    if (row >= 0) {
        ListView_SetItemState(list_, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(list_, row, FALSE);
    }
    updating_ = false;
    selected_ = row;
    FillEdits();
}

void ServerListDialog::SelectionChanged() {
    if (updating_) return;
    const int row = ListView_GetNextItem(list_, -1, LVNI_SELECTED);
    if (row == selected_) return;
    selected_ = row;
    FillEdits();
}

void ServerListDialog::FillEdits() {
    filling_ = true;
    const bool shown = HasSelection();
    for (const Field& field : kFields) {
        const HWND control = Item(field.id);
        const std::wstring text = shown ? Utf8ToWide(rows_[static_cast<size_t>(selected_)].*field.member) : L"";
        if (field.choice) {
            SelectChoice(control, text);
            EnableWindow(control, shown && !protected_);
        } else {
            SetWindowTextW(control, text.c_str());
            SendMessageW(control, EM_SETREADONLY, protected_ || field.id == IDC_CLSID, 0);
            EnableWindow(control, shown);
        }
    }
    EnableWindow(Item(IDC_TEST), shown);
    EnableWindow(Item(IDC_DELETE), shown && !protected_);
    filling_ = false;
}

void ServerListDialog::StoreEdits() {
    if (filling_ || protected_ || !HasSelection()) return;
    OptionServer& server = rows_[static_cast<size_t>(selected_)];
    for (const Field& field : kFields) {
        const HWND control = Item(field.id);
        server.*field.member = WideToUtf8(field.choice ? ChoiceText(control) : ControlText(control));
    }
    ShowRow(selected_);
}

void ServerListDialog::Add() {
    if (protected_) return;
    StoreEdits();
    if (EnsureAdminRights(dialog_) != 1) return;
    if (rows_.size() > 4) ShowMessage(kManyServersHint, dialog_);
    OptionServer server;
    server.caption = "new Server";
    server.name = "Vendor.OPC.Server";
    server.clsid = NewClassId();
    server.url = "http://localhost:8080/opcxmlda/servername";
    server.minupdaterate = "1000";
    server.waittime = "10000";
    server.holdtime = "0";
    server.maxgroupcount = "0";
    rows_.push_back(std::move(server));
    const int row = static_cast<int>(rows_.size()) - 1;
    updating_ = true;
    InsertRow(row);
    updating_ = false;
    Select(row);
    SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Item(IDC_CAPTION)), TRUE);
    SendDlgItemMessageW(dialog_, IDC_CAPTION, EM_SETSEL, 0, -1);
}

void ServerListDialog::Delete() {
    if (protected_ || !HasSelection()) return;
    if (EnsureAdminRights(dialog_) != 1) return;
    const int row = selected_;
    rows_.erase(rows_.begin() + row);
    updating_ = true;
    ListView_DeleteItem(list_, row);
    updating_ = false;
    Select(rows_.empty() ? -1 : std::min(row, static_cast<int>(rows_.size()) - 1));
}

void ServerListDialog::Save() {
    if (protected_) return;
    StoreEdits();  // Enter saves without leaving the field
    if (EnsureAdminRights(dialog_) != 1) return;
    const OptionFileLock lock(optionFile_);
    if (!lock.Held()) {
        ShowMessage(L"The option file is being changed by another program: nothing was changed.", dialog_);
        return;
    }
    if (const std::string problem = SaveOptionFile(optionFile_, file_, rows_, xml::HttpTimeoutSetting(), ExecutablePath());
        !problem.empty()) {
        ShowMessage(Utf8ToWide(problem), dialog_);
        if (problem.find("was written") == std::string::npos) return;
    }
    const int answer = AskYesNo(kRestartQuestion, kApplicationTitle, MB_ICONQUESTION, dialog_);
    EndDialog(dialog_, answer == IDYES ? 1 : 2);
}

void ServerListDialog::Test() {
    StoreEdits();
    if (!HasSelection()) return;
    const OptionServer server = rows_[static_cast<size_t>(selected_)];
    const HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    const std::wstring result = TestConnection(server);
    SetCursor(previous);
    ShowMessage(result, dialog_);
}

}  // namespace

INT_PTR TServerDlg::ShowModal(HWND parent) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    ServerListDialog dialog(Optionfile);
    const INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SERVERS), parent,
                                           &ServerListDialog::Proc, reinterpret_cast<LPARAM>(&dialog));
    if (result < 0) {
        ShowError(L"The server list cannot be shown (error " + std::to_wstring(GetLastError()) + L").",
                  kApplicationTitle, parent);
        return 0;
    }
    return result;
}

}  // namespace vela::app
