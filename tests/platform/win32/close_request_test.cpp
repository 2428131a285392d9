#include "platform/close_request.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <future>
#include <thread>

namespace orvel::platform {
namespace {

using std::chrono::milliseconds;

// Finds the agent's window by its class name as another program would, and hands it a
// message.
bool message_window(UINT message, bool sent) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        const HWND window = ::FindWindowA("OrvelSyncApp2WndClass", nullptr);
        if (window != nullptr) {
            if (sent) {
                ::SendMessageA(window, message, 0, 0);
                return true;
            }
            return ::PostMessageA(window, message, 0, 0) != FALSE;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
}

bool no_window_left() {
    return ::FindWindowA("OrvelSyncApp2WndClass", nullptr) == nullptr;
}

TEST(Win32CloseRequest, AWmClosePostedToTheHiddenWindowEndsTheWait) {
    auto closer = std::async(std::launch::async, [] { return message_window(WM_CLOSE, false); });
    EXPECT_TRUE(wait_for_close_request());
    EXPECT_TRUE(closer.get());
    EXPECT_TRUE(no_window_left());
}

TEST(Win32CloseRequest, AWmCloseSentInsteadOfPostedEndsItToo) {
    // The default handling would destroy the window and leave the wait going for ever.
    auto closer = std::async(std::launch::async, [] { return message_window(WM_CLOSE, true); });
    EXPECT_TRUE(wait_for_close_request());
    EXPECT_TRUE(closer.get());
}

TEST(Win32CloseRequest, OtherMessagesAreHandledAndTheWaitGoesOn) {
    auto closer = std::async(std::launch::async, [] {
        return message_window(WM_USER + 7, false) && message_window(WM_NULL, true) &&
               message_window(WM_CLOSE, false);
    });
    EXPECT_TRUE(wait_for_close_request());
    EXPECT_TRUE(closer.get());
}

TEST(Win32CloseRequest, ARequestBeforeTheWaitIsKeptAndAQuitIsNoRequest) {
    block_close_requests();
    ASSERT_NE(::PostThreadMessageA(::GetCurrentThreadId(), WM_CLOSE, 0, 0), FALSE);
    EXPECT_TRUE(wait_for_close_request());

    ::PostQuitMessage(0);
    EXPECT_FALSE(wait_for_close_request());
    EXPECT_TRUE(no_window_left());
}

}  // namespace
}  // namespace orvel::platform
