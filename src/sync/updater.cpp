#include "sync/updater.h"

#include "base/failures.h"
#include "base/log_hub.h"

namespace orvel {

updater::updater(event& interrupt_event, event& ended_event, connection_factory factory)
    : factory_(std::move(factory)), interrupt_event_(interrupt_event), ended_event_(ended_event) {}

updater::~updater() {
    interrupt_update();
}

void updater::interrupt_update() {
    // Whatever the status says (an eject or a bad command may have replaced Status 3), a
    // running update must stop before the loop can go on.
    if (running()) {
        interrupt_event_.set();
    }
    wait_for_update();
}

void updater::wait_for_update() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void updater::select_device(const sync_command_info& info) {
    settings_.id_memberProduct = info.id_memberProduct;
    settings_.server = info.server;
    settings_.userKey = info.userKey;
    settings_.userSecret = info.userSecret;
    settings_.serialNumber = info.serialNumber;
    log(3, "Server: %s", settings_.server.c_str());
    log(3, "Device: %s, Id: %u", info.device.c_str(), settings_.id_memberProduct);
    std::unique_ptr<device_connection> next = factory_(info.device, settings_, interrupt_event_);
    interrupt_update();
    connection_ = std::move(next);
}

void updater::forget_device() {
    interrupt_update();
    connection_.reset();
    settings_ = connection_settings();
}

void updater::start_update(sync_command command, const sync_command_info& info) {
    if (running()) {
        log(3, "update is already running, command ignored %u", command_number(command));
        return;
    }
    wait_for_update();  // the previous thread has ended; collect it
    running_.store(true, std::memory_order_release);
    thread_ = std::thread(&updater::update_thread, this, command, info);
}

void updater::raise_update_error() {
    if (running() || !error_) {
        return;
    }
    std::exception_ptr error = std::move(error_);
    error_ = nullptr;
    std::rethrow_exception(error);
}

void updater::update_thread(sync_command command, sync_command_info info) {
    error_ = nullptr;
    try {
        if (!connection_) {
            raise_sync_error(sync_error_code::device_not_found);
        }
        switch (command) {
            case sync_command::update_course:
                connection_->update_course(info.courseCode);
                break;
            case sync_command::full_update:
                connection_->full_update();
                break;
            case sync_command::restore_device:
                connection_->restore_device();
                break;
            default:
                log(3, "Wrong command in update: %d", static_cast<int>(command_number(command)));
                throw intl_exception("update failed");
        }
    } catch (const extl_exception&) {
        error_ = std::current_exception();
    } catch (const intl_exception&) {
        error_ = std::current_exception();
    } catch (const std::exception&) {
        error_ = std::current_exception();
    } catch (...) {
        // Includes a sync_index_exception that a model let through: the loop knows it not.
        error_ = std::make_exception_ptr(intl_exception("unknown exception inside update_thread"));
    }
    running_.store(false, std::memory_order_release);
    // After running is cleared: the woken loop must see the update as ended.
    ended_event_.set();
}

}  // namespace orvel
