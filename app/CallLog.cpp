#include "app/CallLog.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "base/Exception.h"
#include "base/FileData.h"
#include "base/Text.h"

namespace vela::app {
namespace {

std::filesystem::path PathOf(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string TwoDigits(int value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

// The user's date and time separators ("/" and ":" where there is no locale to ask).
std::pair<std::string, std::string> Separators() {
    std::string date = "/", time = ":";
#if defined(_WIN32)
    wchar_t text[8];
    char narrow[16];
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDATE, text, 8) > 0 &&
        WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr) > 0)
        date = narrow;
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, text, 8) > 0 &&
        WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr) > 0)
        time = narrow;
#endif
    return {date, time};
}

// "yy/mm/dd;hh:nn:ss,zzz" with the locale's separators for "/" and ":"
std::string LogTimeText(DateTime time) {
    static const std::pair<std::string, std::string> separators = Separators();
    const auto& [date, clock] = separators;
    const DateTimeParts p = DecodeDateTime(time);
    char millis[8];
    std::snprintf(millis, sizeof millis, "%03d", p.millisecond);
    return TwoDigits(p.year) + date + TwoDigits(p.month) + date + TwoDigits(p.day) + ";" + TwoDigits(p.hour) + clock +
           TwoDigits(p.minute) + clock + TwoDigits(p.second) + "," + millis;
}

int64_t DayOf(DateTime time) { return static_cast<int64_t>(std::floor(time)); }

// The process-wide logger and what RestartLog needs to make it again.
struct CallLogState {
    std::mutex lock;
    std::unique_ptr<TLogger> logger;
    std::string givenName;
    TLogger::Clock clock;
    std::mutex entryLock;  // one call entry at a time
    int32_t counter = 0;
};

CallLogState& State() {
    static CallLogState state;
    return state;
}

}  // namespace

// --- TCacheLogger ---

TCacheLogger::TCacheLogger(std::string fileName, int32_t cacheItems)
    : fOrgFileName(std::move(fileName)), fCacheItems(cacheItems) {}

TCacheLogger::~TCacheLogger() = default;

void TCacheLogger::OpenFile() {
    if (fStream.is_open()) fStream.close();
    if (!FileExists(fFileName)) {
        std::ofstream create(PathOf(fFileName), std::ios::binary | std::ios::trunc);
        if (!create) throw Exception("Cannot create the log file " + fFileName);
        create.close();
        fStream.open(PathOf(fFileName), std::ios::binary | std::ios::app);
        WriteHeader();
    } else {
        fStream.open(PathOf(fFileName), std::ios::binary | std::ios::app);
    }
    if (!fStream) throw Exception("Cannot open the log file " + fFileName);
}

void TCacheLogger::WriteStr(const std::string& text) {
    ++fBufferedItems;
    fStream << text;
    // whole writes reach the file at once: the log may be read while it is written
    fStream.flush();
    if (fCacheItems > 0 && fBufferedItems >= fCacheItems) Flush();
}

void TCacheLogger::Flush() {
    fStream.close();
    OpenFile();
    fBufferedItems = 0;
}

// --- TLogger ---

TLogger::TLogger(std::string fileName, int32_t cacheItems, Clock clock)
    : TCacheLogger(std::move(fileName), cacheItems), clock_(std::move(clock)) {
    fShared = true;
    const size_t separator = fOrgFileName.find_last_of("/\\");
    const size_t dot = fOrgFileName.find_last_of('.');
    const bool hasDot = dot != std::string::npos && (separator == std::string::npos || dot > separator);
    fExtension = hasDot ? fOrgFileName.substr(dot) : std::string();
    if (fExtension.empty() || fExtension == ".") fExtension = ".log";
    MakeFileName();
    OpenFile();
}

void TLogger::MakeFileName() {
    const DateTime now = clock_();
    fDay = DayOf(now);
    const DateTimeParts p = DecodeDateTime(now);
    const size_t separator = fOrgFileName.find_last_of("/\\");
    const size_t dot = fOrgFileName.find_last_of('.');
    const bool hasDot = dot != std::string::npos && (separator == std::string::npos || dot > separator);
    const std::string stem = hasDot ? fOrgFileName.substr(0, dot) : fOrgFileName;
    fFileName = stem + "-" + TwoDigits(p.year) + "-" + TwoDigits(p.month) + "-" + TwoDigits(p.day) + fExtension;
}

// By the date, not the weekday: a log left quiet for a week still changes its file.
void TLogger::CheckNewDay() {
    if (DayOf(clock_()) == fDay) return;
    fStream.close();
    MakeFileName();
    Flush();
}

std::string TLogger::GetLogDateTime() {
    CheckNewDay();
    return LogTimeText(clock_());
}

void TLogger::Log(const std::string& value) {
    CheckNewDay();
    WriteStr("<log date=\"" + LogTimeText(clock_()) + "\">" + value + "</log>\r\n");
}

// --- the process-wide log ---

std::string StartLog(const std::string& fileName, TLogger::Clock clock) {
    CallLogState& state = State();
    std::lock_guard lock(state.lock);
    state.logger.reset();
    state.givenName = fileName;
    state.clock = clock;
    state.logger = std::make_unique<TLogger>(fileName, 0, std::move(clock));
    return state.logger->FileName();
}

bool RestartLog() {
    CallLogState& state = State();
    std::lock_guard lock(state.lock);
    if (!state.logger) return false;
    const std::string current = state.logger->FileName();
    state.logger.reset();
    std::error_code error;
    const bool deleted = std::filesystem::remove(PathOf(current), error) && !error;
    state.logger = std::make_unique<TLogger>(state.givenName, 0, state.clock);
    return deleted;
}

void StopLog() {
    CallLogState& state = State();
    std::lock_guard lock(state.lock);
    state.logger.reset();
}

std::string GetLogTime() {
    CallLogState& state = State();
    std::lock_guard lock(state.lock);
    try {
        return state.logger ? state.logger->GetLogDateTime() : std::string();
    } catch (...) {
        return {};
    }
}

void WriteLog(const std::string& text) {
    CallLogState& state = State();
    std::lock_guard lock(state.lock);
    try {
        if (state.logger) state.logger->WriteStr(text);
    } catch (...) {
    }
}

void WriteLogLn(const std::string& text) { WriteLog(text + "\r\n"); }

void OpenLogEntry(const std::string& action) {
    CallLogState& state = State();
    std::lock_guard lock(state.lock);
    if (!state.logger) return;
    try {
        std::string line = "<log date=\"" + state.logger->GetLogDateTime() + "\"";
        if (!TrimBlanks(action).empty()) line += " action=\"" + action + "\"";
        state.logger->WriteStr(line + ">\r\n");
    } catch (...) {
    }
}

void CloseLogEntry() { WriteLog("</log>\r\n"); }

void LogSoapCall(const std::string& action, const std::string& request, const std::string& error,
                 const std::string& response) {
    CallLogState& state = State();
    std::lock_guard entry(state.entryLock);
    state.counter = state.counter == 0x7FFFFFFE ? 1 : state.counter + 1;
    char head[64];
    std::snprintf(head, sizeof head, "<SoapCall No=\"%d\" Time=\"", state.counter);
    WriteLogLn(head + GetLogTime() + "\" Action=\"" + action + "\">");
    WriteLogLn("<Request><![CDATA[");
    WriteLog(std::string(TrimBlanks(request)) + "]]>");
    WriteLogLn("</Request>");
    WriteLogLn("<Response><![CDATA[");
    WriteLogLn(std::string(TrimBlanks(response)) + "]]>");
    WriteLogLn("</Response>");
    if (!error.empty()) WriteLogLn("<ErrorMessage>" + error + "</ErrorMessage>");
    WriteLogLn("</SoapCall>");
}

int32_t LogCounter() {
    CallLogState& state = State();
    std::lock_guard entry(state.entryLock);
    return state.counter;
}

void SetLogCounter(int32_t value) {
    CallLogState& state = State();
    std::lock_guard entry(state.entryLock);
    state.counter = value;
}

}  // namespace vela::app
