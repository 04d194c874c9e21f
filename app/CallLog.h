#pragma once
// The call log: one entry per XML-DA call (request, response, error) in a file that gets a new
// name each day, switched on and off from the main window. Portable; the transport's hook may
// call it from any thread.
#include <cstdint>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>

#include "base/DateTime.h"

namespace vela::app {

// A file that text is appended to as UTF-8, flushed every so many writes (0: only when asked).
class TCacheLogger {
public:
    TCacheLogger(std::string fileName, int32_t cacheItems);
    virtual ~TCacheLogger();
    TCacheLogger(const TCacheLogger&) = delete;
    TCacheLogger& operator=(const TCacheLogger&) = delete;

    void WriteStr(const std::string& text);
    // Closes and opens the file again.
    void Flush();
    const std::string& FileName() const { return fFileName; }

protected:
    virtual void MakeFileName() { fFileName = fOrgFileName; }
    virtual void WriteHeader() {}
    // Creates the file when missing (with its header), then opens it for appending; raises
    // vela::Exception when it cannot.
    void OpenFile();

    bool fShared = false;
    std::ofstream fStream;
    std::string fFileName;
    std::string fOrgFileName;
    int32_t fCacheItems;
    int32_t fBufferedItems = 0;
};

// The day-stamped log: "calls.log" is written as "calls-24-05-31.log" on 31 May 2024, and the
// first write of a new day goes to that day's file.
class TLogger final : public TCacheLogger {
public:
    using Clock = std::function<DateTime()>;  // local time
    TLogger(std::string fileName, int32_t cacheItems, Clock clock = NowLocal);

    void CheckNewDay();
    // "yy/mm/dd;hh:nn:ss,zzz" of now.
    std::string GetLogDateTime();
    void Log(const std::string& value);
    DateTime Now() const { return clock_(); }

private:
    void MakeFileName() override;

    int64_t fDay = 0;  // the date in the current file name
    std::string fExtension;
    Clock clock_;
};

// The process-wide call log (none while logging is off).
std::string StartLog(const std::string& fileName, TLogger::Clock clock = NowLocal);  // the file in use
bool RestartLog();  // empties today's file; false when it could not be deleted
void StopLog();
std::string GetLogTime();
void WriteLog(const std::string& text);
void WriteLogLn(const std::string& text);
void OpenLogEntry(const std::string& action);
void CloseLogEntry();

// The hook's handler: one "SoapCall" entry, numbered, as one uninterrupted block of lines.
void LogSoapCall(const std::string& action, const std::string& request, const std::string& error,
                 const std::string& response);
// The number of the last logged call (0 after start and stop).
int32_t LogCounter();
void SetLogCounter(int32_t value);

}  // namespace vela::app
