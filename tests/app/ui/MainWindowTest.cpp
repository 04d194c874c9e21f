// The main window on a real display: its icon, its statistics and the ways the program ends.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "app/MainWindow.h"
#include "app/UserMessages.h"
#include "app/VirtualServers.h"
#include "app/resource.h"
#include "server/ComHosting.h"
#include "tests/app/ui/UiTestSupport.h"
#include "xml/HttpProcessState.h"

namespace vela::app::test {
namespace {

MainWindowOptions Options(const TempFolder& folder) {
    MainWindowOptions options;
    options.optionFile = folder.File(L"gateway.dat").wstring();
    return options;
}

std::wstring Text(HWND window, int id) { return ControlText(GetDlgItem(window, id)); }

// Watches for the question about connected clients while the test runs and answers it "No".
class QuestionWatch {
public:
    QuestionWatch()
        : thread_([this] {
              while (!stop_) {
                  if (const HWND box = FindWindowW(L"#32770", L"Warning"); box && !seen_) {
                      text_ = BoxText(box);
                      seen_ = true;
                      PostMessageW(box, WM_COMMAND, IDNO, 0);
                  }
                  Sleep(20);
              }
          }) {}
    ~QuestionWatch() {
        stop_ = true;
        thread_.join();
    }
    bool Seen() const { return seen_; }
    std::wstring Text() const { return seen_ ? text_ : L""; }

private:
    std::wstring text_;  // written before seen_
    std::atomic<bool> stop_{false};
    std::atomic<bool> seen_{false};
    std::thread thread_;
};

TEST(MainWindow, ShowsTheIconAndTheStatistics) {
    MessagesMode unattended(true);
    TempFolder folder;
    VirtualServers servers;
    TVelaOstraForm form(servers, Options(folder));
    ASSERT_TRUE(form.Create()) << GetLastError();
    const HWND window = form.Handle();
    wchar_t className[64] = L"";
    GetClassNameW(window, className, 64);
    EXPECT_STREQ(className, TVelaOstraForm::ClassName());
    EXPECT_EQ(MainWindow(), window);
    EXPECT_FALSE(IsWindowVisible(window));  // lives as the icon until asked
    // Wine's shell may still be starting: the window tries again
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (!form.TrayIconShown() && GetTickCount64() < deadline) PumpMessages(100);
    EXPECT_TRUE(form.TrayIconShown());

    for (int i = 0; i < 3; ++i) xml::CountHttpCall();
    EXPECT_FALSE(PumpMessages(1300));  // at least one tick
    EXPECT_EQ(Text(window, IDC_MAIN_CLIENTS), L"0");
    EXPECT_EQ(Text(window, IDC_MAIN_CLIENTS_MAX), L"Max: 0");
    EXPECT_EQ(Text(window, IDC_MAIN_CALLS), L"3");
    EXPECT_EQ(Text(window, IDC_MAIN_SERVERS), L"0");
    EXPECT_FALSE(Text(window, IDC_MAIN_CURRENTTIME).empty());
    EXPECT_FALSE(Text(window, IDC_MAIN_STARTTIME).empty());
    EXPECT_EQ(ListRows(GetDlgItem(window, IDC_MAIN_SERVER_LIST)), 0);

    SendMessageW(window, WM_COMMAND, IDC_MAIN_RESET, 0);
    EXPECT_EQ(Text(window, IDC_MAIN_CALLS), L"0");
    EXPECT_EQ(xml::HttpCallCount(), 0);
    EXPECT_EQ(Text(window, IDC_MAIN_CALLS_PER_SEC), L"0.00");
    EXPECT_EQ(Text(window, IDC_MAIN_CALLS_MAX), L"Max: 0.00");

    SendMessageW(window, WM_COMMAND, IDM_ABOUT, 0);
    EXPECT_TRUE(IsWindowVisible(window));
    PumpMessages(300);
    EXPECT_TRUE(SaveScreenshot(window, L"main_window.bmp"));

    // closing by the user only hides it
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
}

TEST(MainWindow, ShutdownAsksOnlyWhileClientsAreConnected) {
    MessagesMode boxes(false);
    TempFolder folder;
    VirtualServers servers;
    TVelaOstraForm form(servers, Options(folder));
    ASSERT_TRUE(form.Create());
    const HWND window = form.Handle();
    {
        server::ComHosting::Instance().ObjectCreated();  // a client holds an object
        QuestionWatch watch;
        PostMessageW(window, WM_COMMAND, IDM_SHUTDOWN, 0);
        EXPECT_FALSE(PumpMessages(1500));
        EXPECT_TRUE(watch.Seen());
        EXPECT_NE(watch.Text().find(L"1 Client(s) currently connected"), std::wstring::npos) << watch.Text();
        EXPECT_TRUE(IsWindow(window));  // "No" keeps it running
        server::ComHosting::Instance().ObjectDestroyed();
    }
    QuestionWatch watch;
    PostMessageW(window, WM_COMMAND, IDM_SHUTDOWN, 0);
    EXPECT_TRUE(PumpMessages(5000));  // the program's loop would end
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(watch.Seen());
    EXPECT_EQ(MainWindow(), nullptr);
}

TEST(MainWindow, StopMessageEndsTheProgram) {
    MessagesMode boxes(false);
    TempFolder folder;
    VirtualServers servers;
    TVelaOstraForm form(servers, Options(folder));
    ASSERT_TRUE(form.Create());
    const HWND window = form.Handle();
    EXPECT_EQ(FindWindowW(TVelaOstraForm::ClassName(), nullptr), window);
    QuestionWatch watch;
    PostMessageW(window, TVelaOstraForm::StopMessage(), 0, 0);
    EXPECT_TRUE(PumpMessages(5000));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(watch.Seen());
}

TEST(MainWindow, TerminateApplicationEndsWithoutAQuestion) {
    MessagesMode boxes(false);
    TempFolder folder;
    VirtualServers servers;
    auto form = std::make_unique<TVelaOstraForm>(servers, Options(folder));
    ASSERT_TRUE(form->Create());
    server::ComHosting::Instance().ObjectCreated();  // not asked about even with a client
    QuestionWatch watch;
    TerminateApplication();
    EXPECT_TRUE(PumpMessages(5000));
    const HWND window = form->Handle();
    form.reset();  // as the program does after its loop
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(MainWindow(), nullptr);
    EXPECT_FALSE(watch.Seen());
    EXPECT_FALSE(PumpMessages(200));  // no second quit from the window's end
    server::ComHosting::Instance().ObjectDestroyed();
}

}  // namespace
}  // namespace vela::app::test
