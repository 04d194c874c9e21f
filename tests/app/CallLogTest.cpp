// The call log: file names by day, the entry format, restart, day change, numbering, threads.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "app/CallLog.h"
#include "base/Exception.h"

namespace vela::app {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
    std::ifstream in(fs::path(std::u8string(path.begin(), path.end())), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class CallLog : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vela-calllog-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        now_ = EncodeDateTime({2024, 5, 31, 13, 14, 15, 16});
    }
    void TearDown() override {
        StopLog();
        SetLogCounter(0);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string Path(const std::string& name) const {
        const std::u8string text = (dir_ / name).u8string();
        return std::string(text.begin(), text.end());
    }
    TLogger::Clock Clock() {
        return [this] { return now_.load(); };
    }
    // Start as the main window does: the file begins with the opening "log" element.
    std::string Start(const std::string& name) {
        const std::string file = StartLog(Path(name), Clock());
        RestartLog();
        OpenLogEntry("");
        return file;
    }

    fs::path dir_;
    std::atomic<DateTime> now_{0};
};

TEST_F(CallLog, FileNamesCarryTheDate) {
    struct Case {
        const char* given;
        const char* written;
    };
    const Case cases[] = {{"calls.log", "calls-24-05-31.log"},
                          {"calls", "calls-24-05-31.log"},
                          {"calls.", "calls-24-05-31.log"},
                          {"calls.txt", "calls-24-05-31.txt"}};
    for (const Case& c : cases) {
        EXPECT_EQ(StartLog(Path(c.given), Clock()), Path(c.written)) << c.given;
        EXPECT_TRUE(fs::exists(dir_ / c.written)) << c.given;
    }
    fs::create_directories(dir_ / "a.b");
    EXPECT_EQ(StartLog(Path("a.b/calls"), Clock()), Path("a.b/calls-24-05-31.log"));  // a dot in a folder is no extension
}

TEST_F(CallLog, WritesOneEntryPerCall) {
    const std::string file = Start("calls.log");
    LogSoapCall("Read", "  <Read/>\r\n", "", "\r\n<ReadResponse/>  ");
    LogSoapCall("ERRORWrite", "<Write/>", "connection reset", "");
    CloseLogEntry();
    StopLog();
    EXPECT_EQ(ReadText(file),
              "<log date=\"24/05/31;13:14:15,016\">\r\n"
              "<SoapCall No=\"1\" Time=\"24/05/31;13:14:15,016\" Action=\"Read\">\r\n"
              "<Request><![CDATA[\r\n"
              "<Read/>]]></Request>\r\n"
              "<Response><![CDATA[\r\n"
              "<ReadResponse/>]]>\r\n"
              "</Response>\r\n"
              "</SoapCall>\r\n"
              "<SoapCall No=\"2\" Time=\"24/05/31;13:14:15,016\" Action=\"ERRORWrite\">\r\n"
              "<Request><![CDATA[\r\n"
              "<Write/>]]></Request>\r\n"
              "<Response><![CDATA[\r\n"
              "]]>\r\n"
              "</Response>\r\n"
              "<ErrorMessage>connection reset</ErrorMessage>\r\n"
              "</SoapCall>\r\n"
              "</log>\r\n");
}

TEST_F(CallLog, StartingAgainTheSameDayEmptiesTheFile) {
    const std::string file = Start("calls.log");
    LogSoapCall("First", "a", "", "b");
    Start("calls.log");
    LogSoapCall("Second", "c", "", "d");
    StopLog();
    const std::string text = ReadText(file);
    EXPECT_EQ(text.find("First"), std::string::npos);
    EXPECT_NE(text.find("Second"), std::string::npos);
    EXPECT_EQ(text.rfind("<log date=", 0), 0u);
}

TEST_F(CallLog, ANewDayGoesToANewFile) {
    const std::string first = Start("calls.log");
    LogSoapCall("Before", "a", "", "b");
    now_ = EncodeDateTime({2024, 6, 1, 0, 0, 1, 0});
    LogSoapCall("After", "c", "", "d");
    CloseLogEntry();
    StopLog();
    const std::string second = Path("calls-24-06-01.log");
    const std::string before = ReadText(first), after = ReadText(second);
    EXPECT_NE(before.find("Before"), std::string::npos);
    EXPECT_EQ(before.find("After"), std::string::npos);
    EXPECT_EQ(before.find("</log>"), std::string::npos);  // the closing element goes to the file in use
    EXPECT_EQ(after.rfind("<SoapCall No=\"2\" Time=\"24/06/01;00:00:01,000\" Action=\"After\">", 0), 0u);
    EXPECT_NE(after.find("</log>\r\n"), std::string::npos);
    // the same weekday a week later is a new day too
    Start("calls.log");
    now_ = EncodeDateTime({2024, 6, 8, 9, 0, 0, 0});
    LogSoapCall("Week", "e", "", "f");
    StopLog();
    EXPECT_NE(ReadText(Path("calls-24-06-08.log")).find("Week"), std::string::npos);
}

TEST_F(CallLog, NumbersStartAgainAfterTheLast) {
    const std::string file = Start("calls.log");
    SetLogCounter(0x7FFFFFFE);
    LogSoapCall("Wrap", "a", "", "b");
    EXPECT_EQ(LogCounter(), 1);
    StopLog();
    EXPECT_NE(ReadText(file).find("<SoapCall No=\"1\""), std::string::npos);
}

TEST_F(CallLog, EntriesOfThreadsDoNotInterleave) {
    const std::string file = Start("calls.log");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) LogSoapCall("T" + std::to_string(t), "request", i % 2 ? "error" : "", "response");
        });
    for (std::thread& thread : threads) thread.join();
    StopLog();
    std::istringstream lines(ReadText(file));
    std::string line;
    int open = 0, entries = 0;
    bool nested = false;
    while (std::getline(lines, line)) {
        if (line.rfind("<SoapCall ", 0) == 0) {
            nested = nested || open != 0;
            ++open;
            ++entries;
        } else if (line.rfind("</SoapCall>", 0) == 0) {
            --open;
        }
    }
    EXPECT_FALSE(nested);
    EXPECT_EQ(entries, 200);
    EXPECT_EQ(LogCounter(), 200);
}

TEST_F(CallLog, AFileThatCannotBeCreatedFailsTheStart) {
    EXPECT_THROW(StartLog(Path("missing/folder/calls.log"), Clock()), Exception);
    // logging is then off: writes go nowhere and do not fail
    LogSoapCall("Nowhere", "a", "", "b");
    EXPECT_EQ(GetLogTime(), "");
}

}  // namespace
}  // namespace vela::app
