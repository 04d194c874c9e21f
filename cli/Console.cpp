#include "cli/Console.h"

#include <iostream>
#include <streambuf>

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "base/Utf.h"
#endif

namespace vela::cli {

#ifdef _WIN32
namespace {

// Writes whole UTF-8 sequences to the console as UTF-16, whatever its code page.
class ConsoleBuffer : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {}

protected:
    int_type overflow(int_type c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        pending_ += static_cast<char>(c);
        if (c == '\n') sync();
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        pending_.append(text, static_cast<size_t>(count));
        if (pending_.find('\n') != std::string::npos) sync();
        return count;
    }
    int sync() override {
        size_t whole = pending_.size();
        // a sequence cut at the end waits for its remaining bytes
        for (size_t back = 1; back <= 3 && back <= pending_.size(); ++back) {
            const unsigned char c = static_cast<unsigned char>(pending_[pending_.size() - back]);
            if ((c & 0xC0) != 0x80) {
                const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
                if (length > back) whole = pending_.size() - back;
                break;
            }
        }
        const std::wstring wide = Utf8ToWide(std::string_view(pending_).substr(0, whole));
        pending_.erase(0, whole);
        DWORD written = 0;
        return wide.empty() || WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)
                   ? 0
                   : -1;
    }

private:
    HANDLE console_;
    std::string pending_;
};

void Bridge(DWORD which, std::ostream& stream) {
    HANDLE handle = GetStdHandle(which);
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) return;
    stream.flush();
    // never freed: the streams flush once more after every static object is gone
    stream.rdbuf(new ConsoleBuffer(handle));
}

}  // namespace

std::vector<std::string> Utf8Arguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(WideToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

void UseUtf8Console() {
    Bridge(STD_OUTPUT_HANDLE, std::cout);
    Bridge(STD_ERROR_HANDLE, std::cerr);
}

#else

std::vector<std::string> Utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

void UseUtf8Console() {}

#endif

}  // namespace vela::cli
