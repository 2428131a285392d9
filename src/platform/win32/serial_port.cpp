#include "platform/serial_port.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "base/log_hub.h"
#include "platform/system_error.h"
#include "platform/win32/handles.h"

namespace orvel::platform {

namespace {

using std::chrono::milliseconds;

bool supported_rate(std::uint32_t baud) {
    switch (baud) {
        case 460800:
        case 115200:
        case 57600:
        case 38400:
        case 9600:
            return true;
        default:
            return false;
    }
}

std::wstring widened(const std::string& path) {
    // Port paths are plain ASCII ("\\.\COM7"); each byte becomes one character.
    return std::wstring(path.begin(), path.end());
}

}  // namespace

struct serial_port::state {
    auto_handle handle;
    std::string path;
    std::uint32_t baud = 0;
};

serial_port::serial_port() : state_(std::make_unique<state>()) {}

serial_port::~serial_port() {
    close();
}

bool serial_port::open(const std::string& path, std::uint32_t baud) {
    close();
    // No sharing: later openers are refused while the port is ours.
    auto_handle handle(::CreateFileW(widened(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle.valid()) {
        log_system_error("Create file failed");
        return false;
    }
    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (::GetCommState(handle.get(), &settings) == FALSE) {
        log_system_error("GetCommState failed (baud rate)");
        return false;
    }
    if (!supported_rate(baud)) {
        log_system_error("SetCommState failed", ERROR_INVALID_PARAMETER);
        return false;
    }
    settings.BaudRate = baud;
    settings.fBinary = TRUE;
    if (::SetCommState(handle.get(), &settings) == FALSE) {
        log_system_error("SetCommState failed");
        return false;
    }
    state_->handle.reset(handle.release());
    state_->path = path;
    state_->baud = baud;
    return true;
}

void serial_port::close() {
    if (!state_->handle.valid()) {
        return;
    }
    const auto_handle handle(state_->handle.release());
    ::PurgeComm(handle.get(), PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    state_->path.clear();
    state_->baud = 0;
}

bool serial_port::is_open() const {
    return state_->handle.valid();
}

const std::string& serial_port::path() const {
    return state_->path;
}

std::uint32_t serial_port::baud() const {
    return state_->baud;
}

bool serial_port::set_timeouts(const serial_timeouts& timeouts) {
    if (!is_open()) {
        return false;
    }
    COMMTIMEOUTS limits{};
    limits.ReadIntervalTimeout = timeouts.read_interval;
    limits.ReadTotalTimeoutMultiplier = timeouts.read_total_multiplier;
    limits.ReadTotalTimeoutConstant = timeouts.read_total_constant;
    limits.WriteTotalTimeoutMultiplier = timeouts.write_total_multiplier;
    limits.WriteTotalTimeoutConstant = timeouts.write_total_constant;
    if (::SetCommTimeouts(state_->handle.get(), &limits) == FALSE) {
        log_system_error("SetCommTimeouts failed");
        return false;
    }
    return true;
}

bool serial_port::set_line_settings() {
    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (::GetCommState(state_->handle.get(), &settings) == FALSE) {
        log_system_error("GetCommState failed");
        return false;
    }
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fParity = FALSE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDsrSensitivity = FALSE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fDtrControl = DTR_CONTROL_ENABLE;
    settings.fRtsControl = RTS_CONTROL_DISABLE;
    if (::SetCommState(state_->handle.get(), &settings) == FALSE) {
        log_system_error("SetCommState failed");
        return false;
    }
    return true;
}

std::size_t serial_port::read(void* buffer, std::size_t capacity) {
    // The units send a reply in bursts; the pause lets more of it gather for one read.
    std::this_thread::sleep_for(milliseconds(25));
    DWORD got = 0;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(capacity, MAXDWORD));
    if (::ReadFile(state_->handle.get(), buffer, wanted, &got, nullptr) == FALSE) {
        log_system_error("ReadFile failed");
        return 0;
    }
    return got;
}

std::size_t serial_port::write(const void* bytes, std::size_t count) {
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    std::size_t total = 0;
    while (total < count) {
        DWORD sent = 0;
        const auto piece = static_cast<DWORD>(std::min<std::size_t>(count - total, MAXDWORD));
        if (::WriteFile(state_->handle.get(), in + total, piece, &sent, nullptr) == FALSE) {
            log_system_error("WriteFile failed");
            break;
        }
        // The units take a command only after the line has been quiet for a while; the
        // protocols are timed around this pause after every write.
        std::this_thread::sleep_for(milliseconds(100));
        if (sent == 0) {
            // A port that takes nothing in a whole call would keep this loop going for ever.
            log_system_error("WriteFile failed", ERROR_TIMEOUT);
            break;
        }
        total += sent;
    }
    return total;
}

bool serial_port::flush() {
    if (::FlushFileBuffers(state_->handle.get()) == FALSE) {
        log_system_error("FlushFileBuffers failed");
        return false;
    }
    return true;
}

int serial_port::available() {
    DWORD errors = 0;
    COMSTAT status{};
    if (::ClearCommError(state_->handle.get(), &errors, &status) == FALSE) {
        log_system_error("ClearCommError failed");
        return -1;
    }
    return static_cast<int>(std::min<DWORD>(status.cbInQue, 0x7FFFFFFF));
}

}  // namespace orvel::platform
