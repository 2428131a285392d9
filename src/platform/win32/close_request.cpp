#include "platform/close_request.h"

#include <windows.h>

#include <atomic>

#include "platform/system_error.h"

namespace orvel::platform {

namespace {

// Other programs (an installer, an updater) find the agent's window by this class name and
// post WM_CLOSE to it.
constexpr const char* window_class =
    "OrvelSyncApp2"
    "WndClass";

// The thread whose message loop takes close requests.
std::atomic<DWORD> waiting_thread{0};

// A WM_CLOSE sent rather than posted would reach the window procedure, whose default
// destroys the window and leaves the agent running with nothing left to close it; it is
// handed to the loop instead.
LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_CLOSE) {
        ::PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    }
    return ::DefWindowProcA(window, message, wparam, lparam);
}

// Ctrl-C, Ctrl-Break and a closed console end the agent as they do elsewhere: through the
// loop, so that the shutdown runs in its order.
BOOL WINAPI console_event(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        const DWORD thread = waiting_thread.load();
        return thread != 0 && ::PostThreadMessageA(thread, WM_CLOSE, 0, 0) != FALSE;
    }
    return FALSE;
}

class registered_class {
public:
    explicit registered_class(HINSTANCE instance) : instance_(instance) {
        WNDCLASSEXA description{};
        description.cbSize = sizeof description;
        description.style = CS_HREDRAW | CS_VREDRAW;
        description.lpfnWndProc = window_procedure;
        description.hInstance = instance;
        description.lpszClassName = window_class;
        registered_ = ::RegisterClassExA(&description) != 0;
    }
    ~registered_class() {
        if (registered_) {
            ::UnregisterClassA(window_class, instance_);
        }
    }
    registered_class(const registered_class&) = delete;
    registered_class& operator=(const registered_class&) = delete;

    bool registered() const { return registered_; }

private:
    HINSTANCE instance_;
    bool registered_ = false;
};

class hidden_window {
public:
    explicit hidden_window(HINSTANCE instance) {
        ::SetLastError(0);
        window_ = ::CreateWindowExA(0, window_class, window_class, WS_POPUP, 0, 0, 0, 0, nullptr,
                                    nullptr, instance, nullptr);
    }
    ~hidden_window() {
        if (window_ != nullptr) {
            ::DestroyWindow(window_);
        }
    }
    hidden_window(const hidden_window&) = delete;
    hidden_window& operator=(const hidden_window&) = delete;

    bool created() const { return window_ != nullptr; }

private:
    HWND window_ = nullptr;
};

void take_close_requests_here() {
    // A thread has a message queue only once it asks for one; a close request posted
    // before the loop starts must find it.
    MSG message;
    ::PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    waiting_thread = ::GetCurrentThreadId();
}

}  // namespace

void block_close_requests() {
    take_close_requests_here();
    if (::SetConsoleCtrlHandler(console_event, TRUE) == FALSE) {
        log_system_error("SetConsoleCtrlHandler");
    }
}

bool wait_for_close_request() {
    take_close_requests_here();
    const HINSTANCE instance = ::GetModuleHandleA(nullptr);
    const registered_class window_class_of_ours(instance);
    if (!window_class_of_ours.registered()) {
        log_system_error("RegisterClassEx failed");
        return false;
    }
    const hidden_window window(instance);
    if (!window.created()) {
        log_system_error("CreateWindow failed");
        return false;
    }
    MSG message;
    for (;;) {
        const BOOL result = ::GetMessageA(&message, nullptr, 0, 0);
        if (result == 0) {
            return false;  // WM_QUIT ends the loop without a close request
        }
        if (result == -1) {
            log_system_error("GetMessage failed");
            return false;
        }
        if (message.message == WM_CLOSE) {
            return true;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

}  // namespace orvel::platform
