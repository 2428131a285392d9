// Owning wrappers of the system's handles, released when their owner goes.
#pragma once

#include <windows.h>
// setupapi.h needs windows.h first.
#include <setupapi.h>

namespace orvel::platform {

// A kernel handle: a file, a device, a process.
class auto_handle {
public:
    explicit auto_handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    virtual ~auto_handle() { reset(); }
    auto_handle(const auto_handle&) = delete;
    auto_handle& operator=(const auto_handle&) = delete;
    auto_handle(auto_handle&& other) noexcept : handle_(other.release()) {}
    auto_handle& operator=(auto_handle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    HANDLE get() const { return handle_; }
    // Some calls fail with a null handle, others with INVALID_HANDLE_VALUE.
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
    HANDLE release() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }
    void reset(HANDLE handle = INVALID_HANDLE_VALUE) {
        if (valid() && handle != handle_) {
            ::CloseHandle(handle_);
        }
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

// A SetupAPI device-information set.
class auto_devinfo {
public:
    explicit auto_devinfo(HDEVINFO set) : set_(set) {}
    virtual ~auto_devinfo() {
        if (valid()) {
            ::SetupDiDestroyDeviceInfoList(set_);
        }
    }
    auto_devinfo(const auto_devinfo&) = delete;
    auto_devinfo& operator=(const auto_devinfo&) = delete;

    HDEVINFO get() const { return set_; }
    bool valid() const { return set_ != INVALID_HANDLE_VALUE; }

private:
    HDEVINFO set_;
};

// A library loaded at run time.
class dll_handle {
public:
    // From the system folder only, so that a planted copy beside the agent or in the
    // current folder is never loaded. Logs a failure.
    explicit dll_handle(const char* name);
    virtual ~dll_handle() {
        if (module_ != nullptr) {
            ::FreeLibrary(module_);
        }
    }
    dll_handle(const dll_handle&) = delete;
    dll_handle& operator=(const dll_handle&) = delete;

    HMODULE get() const { return module_; }
    // The entry point, or null after logging the failed look-up.
    FARPROC entry(const char* name) const;

private:
    HMODULE module_ = nullptr;
};

}  // namespace orvel::platform
