#include "base/Win32MainThread.h"

namespace vela {
namespace {

constexpr UINT kWakeMessage = WM_APP + 0x101;
constexpr wchar_t kWindowClass[] = L"VelaMainThreadHandover";

}  // namespace

Win32MainThread::Win32MainThread() : ownerThread_(GetCurrentThreadId()) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &Win32MainThread::WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);  // fails harmlessly when already registered
    window_ = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
    if (!window_) throw Exception("Cannot create the main-thread message window (error " +
                                  std::to_string(GetLastError()) + ")");
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32MainThread::~Win32MainThread() {
    Close();
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
}

void Win32MainThread::Close() {
    std::deque<std::function<void()>> dropped;
    std::lock_guard lock(mutex_);
    closed_ = true;
    dropped.swap(queue_);
}

void Win32MainThread::Post(std::function<void()> work) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) return;
        queue_.push_back(std::move(work));
    }
    PostMessageW(window_, kWakeMessage, 0, 0);
}

void Win32MainThread::RunPending() {
    std::deque<std::function<void()>> batch;
    {
        std::lock_guard lock(mutex_);
        batch.swap(queue_);
    }
    for (auto& work : batch) work();
}

LRESULT CALLBACK Win32MainThread::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kWakeMessage) {
        if (auto* self = reinterpret_cast<Win32MainThread*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
            self->RunPending();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace vela
