// The server-list dialog on a real display, driven from a second thread as a user would.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "app/OptionFile.h"
#include "app/OptionFileRegistry.h"
#include "app/UserMessages.h"
#include "app/resource.h"
#include "base/Utf.h"
#include "tests/app/ui/UiTestSupport.h"

namespace vela::app::test {
namespace {

// list columns: caption 0, name 1, clsid 2, url 3, ... minupdaterate 7, ... securitymode 11
constexpr int kNameColumn = 1;
constexpr int kClsidColumn = 2;
constexpr int kUrlColumn = 3;
constexpr int kMinUpdateRateColumn = 7;
constexpr int kSecurityModeColumn = 11;

std::string ServerXml(int index, bool withUpdateRate = true) {
    const std::string n = std::to_string(index);
    char clsid[64];
    std::snprintf(clsid, sizeof clsid, "{6B1D4F20-0C3A-4E8B-9A51-2F7C00000%03d}", index);
    return "<server><caption>Plant " + n + "</caption><name>Vela.Test.Plant" + n + "</name><clsid>" + clsid +
           "</clsid><url>opc.tcp://127.0.0.1:48" + n + "0</url><proxy/><user/><pass/>" +
           (withUpdateRate ? "<minupdaterate>250</minupdaterate>" : "") +
           "<waittime>10000</waittime><holdtime>0</holdtime><maxgroupcount>0</maxgroupcount></server>";
}

std::string OptionsXml(const std::string& servers, const std::string& protectedText = "0") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<options protected=\"" + protectedText +
           "\" timeout=\"15000\"><serverlist>" + servers + "</serverlist></options>\n";
}

std::string Servers(int count) {
    std::string servers;
    for (int i = 1; i <= count; ++i) servers += ServerXml(i);
    return servers;
}

// Types the text into an edit and leaves it for another control, as a user moving on would.
void EnterText(HWND dialog, int id, const std::wstring& text, int next) {
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, id)), TRUE);
    SendDlgItemMessageW(dialog, id, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, next)), TRUE);
}

bool WaitUntil(const std::function<bool()>& done, DWORD milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    while (!done()) {
        if (GetTickCount64() >= deadline) return false;
        Sleep(20);
    }
    return true;
}

TEST(ServerDlg, ShowsTheRowsOfTheFileWithTheDialogDefaults) {
    MessagesMode unattended(true);
    TempFolder folder;
    const auto file = folder.File(L"gateway.dat");
    const std::string original = OptionsXml(ServerXml(1) + ServerXml(2, false));
    WriteBytes(file, original);

    const INT_PTR result = RunServerDialog(file.wstring(), [](HWND dialog) {
        const HWND list = GetDlgItem(dialog, IDC_SERVERLIST);
        ASSERT_EQ(ListRows(list), 2);
        EXPECT_EQ(ListText(list, 0, 0), L"Plant 1");
        EXPECT_EQ(ListText(list, 0, kNameColumn), L"Vela.Test.Plant1");
        EXPECT_EQ(ListText(list, 0, kUrlColumn), L"opc.tcp://127.0.0.1:4810");
        EXPECT_EQ(ListText(list, 0, kMinUpdateRateColumn), L"250");
        EXPECT_EQ(ListText(list, 1, 0), L"Plant 2");
        EXPECT_EQ(ListText(list, 1, kMinUpdateRateColumn), L"1000");
        // the first row is selected and shown in the fields
        EXPECT_EQ(ControlText(GetDlgItem(dialog, IDC_CAPTION)), L"Plant 1");
        EXPECT_EQ(ControlText(GetDlgItem(dialog, IDC_CLSID)), L"{6B1D4F20-0C3A-4E8B-9A51-2F7C00000001}");
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_URL)));
        EXPECT_TRUE(GetWindowLongW(GetDlgItem(dialog, IDC_CLSID), GWL_STYLE) & ES_READONLY);
        EXPECT_TRUE(GetWindowLongW(GetDlgItem(dialog, IDC_PASS), GWL_STYLE) & ES_PASSWORD);
        EXPECT_TRUE(SaveScreenshot(dialog, L"server_dialog.bmp"));
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadBytes(file), original);
}

TEST(ServerDlg, LeavingAnEditedFieldUpdatesTheRow) {
    MessagesMode unattended(true);
    TempFolder folder;
    const auto file = folder.File(L"gateway.dat");
    WriteBytes(file, OptionsXml(Servers(2)));

    RunServerDialog(file.wstring(), [](HWND dialog) {
        const HWND list = GetDlgItem(dialog, IDC_SERVERLIST);
        EnterText(dialog, IDC_CAPTION, L"Renamed plant", IDC_NAME);
        EXPECT_EQ(ListText(list, 0, 0), L"Renamed plant");
        EnterText(dialog, IDC_URL, L"opc.tcp://10.0.0.7:4840", IDC_PROXY);
        EXPECT_EQ(ListText(list, 0, kUrlColumn), L"opc.tcp://10.0.0.7:4840");
        EXPECT_EQ(ListText(list, 1, 0), L"Plant 2");
    });
}

TEST(ServerDlg, ProtectedFileAllowsNoChanges) {
    MessagesMode unattended(true);
    TempFolder folder;
    const auto file = folder.File(L"gateway.dat");
    for (const char* protectedText : {"1", "2"}) {
        SCOPED_TRACE(protectedText);
        WriteBytes(file, OptionsXml(Servers(1), protectedText));
        const bool locked = std::string(protectedText) == "1";
        RunServerDialog(file.wstring(), [locked](HWND dialog) {
            EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, IDC_ADD)) == FALSE, locked);
            EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, IDC_DELETE)) == FALSE, locked);
            EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, IDOK)) == FALSE, locked);
            for (int id : {IDC_CAPTION, IDC_NAME, IDC_URL, IDC_PASS, IDC_WAITTIME, IDC_UAUSER})
                EXPECT_EQ((GetWindowLongW(GetDlgItem(dialog, id), GWL_STYLE) & ES_READONLY) != 0, locked) << id;
        });
    }
}

TEST(ServerDlg, InvalidRowIsReportedAndNothingIsWritten) {
    MessagesMode boxes(false);
    TempFolder folder;
    const auto file = folder.File(L"gateway.dat");
    const std::string original = OptionsXml(Servers(2));
    WriteBytes(file, original);

    const INT_PTR result = RunServerDialog(file.wstring(), [](HWND dialog) {
        EnterText(dialog, IDC_CAPTION, L"   ", IDC_NAME);
        PressButton(dialog, IDOK);
        const HWND box = WaitForWindow(L"#32770", kApplicationTitle, 5000);
        ASSERT_NE(box, nullptr);
        EXPECT_NE(BoxText(box).find(L"server caption could not be empty"), std::wstring::npos) << BoxText(box);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitUntil([box] { return !IsWindow(box); }, 5000));
        EXPECT_TRUE(IsWindow(dialog));  // stays open for the correction
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(ReadBytes(file), original);
}

TEST(ServerDlg, SavingWritesEveryValueAndKeepsUnknownElements) {
    MessagesMode unattended(true);
    TempFolder folder;
    const auto file = folder.File(L"gateway.dat");
    const std::string uaServer =
        "<server><caption>Secure plant</caption><name>Vela.Test.Secure</name>"
        "<clsid>{6B1D4F20-0C3A-4E8B-9A51-2F7C00000101}</clsid><url>opc.tcp://127.0.0.1:4843</url>"
        "<proxy/><user/><pass/><minupdaterate>500</minupdaterate><waittime>10000</waittime>"
        "<holdtime>0</holdtime><maxgroupcount>4</maxgroupcount><securitymode>SignAndEncrypt</securitymode>"
        "<securitypolicy>Basic256Sha256</securitypolicy><certfile>C:\\pki\\client.der</certfile>"
        "<keyfile>C:\\pki\\client.pem</keyfile><uauser>operator</uauser><uapass>s3cret</uapass>"
        "<vendornote lang=\"en\">kept as it is</vendornote></server>";
    WriteBytes(file, OptionsXml(uaServer + ServerXml(2)));

    const INT_PTR result = RunServerDialog(file.wstring(), [](HWND dialog) {
        const HWND list = GetDlgItem(dialog, IDC_SERVERLIST);
        EXPECT_EQ(ListText(list, 0, kSecurityModeColumn), L"SignAndEncrypt");
        EnterText(dialog, IDC_WAITTIME, L"2500", IDC_HOLDTIME);
        PressButton(dialog, IDOK);
        EXPECT_TRUE(WaitUntil([dialog] { return !IsWindow(dialog); }, 10000));
    });
    EXPECT_EQ(result, 2);  // unattended: "Shutdown now?" answered No

    const OptionFile saved = ParseOptionFile(ReadBytes(file), OptionReader::StartUp);
    EXPECT_EQ(saved.protectedText, "0");
    ASSERT_EQ(saved.servers.size(), 2u);
    const OptionServer& secure = saved.servers[0];
    EXPECT_EQ(secure.caption, "Secure plant");
    EXPECT_EQ(secure.name, "Vela.Test.Secure");
    EXPECT_EQ(secure.url, "opc.tcp://127.0.0.1:4843");
    EXPECT_EQ(secure.minupdaterate, "500");
    EXPECT_EQ(secure.waittime, "2500");
    EXPECT_EQ(secure.maxgroupcount, "4");
    EXPECT_EQ(secure.securitymode, "SignAndEncrypt");
    EXPECT_EQ(secure.securitypolicy, "Basic256Sha256");
    EXPECT_EQ(secure.certfile, "C:\\pki\\client.der");
    EXPECT_EQ(secure.keyfile, "C:\\pki\\client.pem");
    EXPECT_EQ(secure.uauser, "operator");
    EXPECT_EQ(secure.uapass, "s3cret");
    ASSERT_EQ(secure.unknown.size(), 1u);
    EXPECT_EQ(secure.unknown[0].localName, "vendornote");
    EXPECT_EQ(secure.unknown[0].text, "kept as it is");
    EXPECT_EQ(saved.servers[1].caption, "Plant 2");
    EXPECT_EQ(saved.servers[1].minupdaterate, "250");

    // the saved entries are registered; the test leaves the registry as it found it
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Vela.Test.Secure", 0, KEY_READ, &key), ERROR_SUCCESS);
    if (key) RegCloseKey(key);
    UnregisterOptionFileServers(file.wstring());
    EXPECT_NE(RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Vela.Test.Secure", 0, KEY_READ, &key), ERROR_SUCCESS);
}

TEST(ServerDlg, AddingASixthServerShowsTheHint) {
    MessagesMode boxes(false);
    TempFolder folder;
    const auto file = folder.File(L"gateway.dat");
    WriteBytes(file, OptionsXml(Servers(5)));

    RunServerDialog(file.wstring(), [](HWND dialog) {
        const HWND list = GetDlgItem(dialog, IDC_SERVERLIST);
        PressButton(dialog, IDC_ADD);
        const HWND box = WaitForWindow(L"#32770", kApplicationTitle, 5000);
        ASSERT_NE(box, nullptr);
        EXPECT_NE(BoxText(box).find(L"not more than"), std::wstring::npos) << BoxText(box);
        EXPECT_EQ(ListRows(list), 5);  // the hint comes first
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitUntil([list] { return ListRows(list) == 6; }, 5000));
    });
}

TEST(ServerDlg, AddingAFifthServerNeedsNoHint) {
    MessagesMode boxes(false);
    TempFolder folder;
    const auto file = folder.File(L"gateway.dat");
    WriteBytes(file, OptionsXml(Servers(4)));

    RunServerDialog(file.wstring(), [](HWND dialog) {
        const HWND list = GetDlgItem(dialog, IDC_SERVERLIST);
        PressButton(dialog, IDC_ADD);
        // a hint would come before the row: once the row is there, none came
        ASSERT_TRUE(WaitUntil([list] { return ListRows(list) == 5 || FindWindowW(L"#32770", kApplicationTitle); },
                              5000));
        EXPECT_EQ(FindWindowW(L"#32770", kApplicationTitle), nullptr);
        ASSERT_EQ(ListRows(list), 5);
        EXPECT_EQ(ListText(list, 4, 0), L"new Server");
        EXPECT_EQ(ListText(list, 4, kNameColumn), L"Vendor.OPC.Server");
        EXPECT_TRUE(IsRegistryGuid(WideToUtf8(ListText(list, 4, kClsidColumn))));
        EXPECT_EQ(ListText(list, 4, kMinUpdateRateColumn), L"1000");
        EXPECT_EQ(ControlText(GetDlgItem(dialog, IDC_CAPTION)), L"new Server");
    });
}

}  // namespace
}  // namespace vela::app::test
