#pragma once
// What the process gives the COM runtime: the count of its live COM objects and server locks,
// and the notice when both reach zero (a process started by COM then ends).
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <new>
#include <string>

namespace vela::server {

class ComHosting {
public:
    static ComHosting& Instance();

    void ObjectCreated() { ++objects_; }
    void ObjectDestroyed();
    void Lock() { ++locks_; }
    void Unlock();
    long LiveObjects() const { return objects_.load(); }
    long Locks() const { return locks_.load(); }
    // Called on the thread that released the last object or lock.
    void SetOnIdle(std::function<void()> onIdle);

private:
    void CheckIdle();

    std::atomic<long> objects_{0};
    std::atomic<long> locks_{0};
    std::mutex mutex_;
    std::function<void()> onIdle_;
};

// Reference counting for the project's COM objects; each one counts as a live object.
class ComObjectBase {
public:
    ComObjectBase() { ComHosting::Instance().ObjectCreated(); }
    virtual ~ComObjectBase() { ComHosting::Instance().ObjectDestroyed(); }
    ComObjectBase(const ComObjectBase&) = delete;
    ComObjectBase& operator=(const ComObjectBase&) = delete;

    ULONG AddRefImpl() { return static_cast<ULONG>(++refs_); }
    ULONG ReleaseImpl() {
        const long left = --refs_;
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    long RefCount() const { return refs_.load(); }

private:
    std::atomic<long> refs_{1};
};

// Runs a COM method's body: no exception crosses the COM boundary.
template <class Body>
HRESULT ComCall(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

// Copies text into memory of the COM task allocator; nullptr when out of memory.
wchar_t* TaskMemString(const std::wstring& text);

// A zero-filled array in task memory for an out-parameter: freed unless handed to the caller.
template <class T>
class TaskMemArray {
public:
    explicit TaskMemArray(size_t count) : data_(static_cast<T*>(CoTaskMemAlloc(sizeof(T) * (count ? count : 1)))) {
        if (data_) std::memset(static_cast<void*>(data_), 0, sizeof(T) * (count ? count : 1));
    }
    ~TaskMemArray() { CoTaskMemFree(data_); }
    TaskMemArray(const TaskMemArray&) = delete;
    TaskMemArray& operator=(const TaskMemArray&) = delete;
    explicit operator bool() const { return data_ != nullptr; }
    T& operator[](size_t index) { return data_[index]; }
    T* get() { return data_; }
    T* release() {
        T* data = data_;
        data_ = nullptr;
        return data;
    }

private:
    T* data_;
};

}  // namespace vela::server
