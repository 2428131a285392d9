#include "app/run.h"

#include <cstdio>
#include <memory>

#include "app/log_file.h"
#include "app/member_certificate.h"
#include "base/events.h"
#include "base/failures.h"
#include "base/log_hub.h"
#include "base/safe_fifo.h"
#include "base/version.h"
#include "link/worker.h"
#include "platform/close_request.h"
#include "platform/file_ops.h"
#include "platform/os_line.h"
#include "platform/private_files.h"
#include "platform/standard_streams.h"
#include "sync/main_thread.h"

namespace orvel {

namespace {

// Sets both events when it goes out of scope, so that the command loop (which waits on
// stop_event) can be joined even when a failure skips the regular shutdown.
class stop_on_exit {
public:
    stop_on_exit(event& stop_event, event& interrupt_event)
        : stop_event_(stop_event), interrupt_event_(interrupt_event) {}
    ~stop_on_exit() { request(); }
    stop_on_exit(const stop_on_exit&) = delete;
    stop_on_exit& operator=(const stop_on_exit&) = delete;

    void request() {
        stop_event_.set();
        interrupt_event_.set();
    }

private:
    event& stop_event_;
    event& interrupt_event_;
};

void wait_for_close() {
    if (platform::wait_for_close_request()) {
        // Log readers key on this line, whatever asked us to close.
        log(2, "WM_CLOSE received");
    }
}

// Listening until a close request, then the shutdown in its order.
void serve(const std::string& key_path, const std::string& cert_path, const std::string& log_path) {
    event interrupt_event;
    event stop_event;
    safe_fifo<std::string> commands;
    worker wrk(key_path, cert_path, commands, stop_event);
    if (!wrk.run()) {
        log(3, "wrk.run failed");
        return;
    }
    main_thread loop(commands, interrupt_event, stop_event, log_path);
    stop_on_exit stop(stop_event, interrupt_event);
    wait_for_close();
    stop.request();
    wrk.stop();
    // Leaving the scope ends the command loop, then destroys the worker, the queue and the
    // events, in that order.
}

}  // namespace

int run(const certificate_files& beside) {
    std::string problem;
    if (!platform::prepare_temp_dir(problem)) {
        // Nothing can be logged yet; whoever started the agent reads why on the terminal.
        std::fprintf(stderr, "Orvel Sync cannot use its temporary folder: %s\n", problem.c_str());
        return -1;
    }
    std::unique_ptr<log_file> file;
    try {
        file = std::make_unique<log_file>(platform::temp_dir());
    } catch (const base_exception& e) {
        std::fprintf(stderr, "Orvel Sync cannot open its log: %s\n", e.message().c_str());
        return -1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Orvel Sync cannot open its log: %s\n", e.what());
        return -1;
    }
    // Whoever started the agent by hand sees this before the terminal goes quiet.
    std::printf("Orvel Sync is running; its log is %s\n", file->path().c_str());
    platform::point_standard_streams_at(file->stream());

    log_os_line();
    log(2, "Version: %s", version_text);
    const certificate_choice certificate =
        choose_certificate(beside, platform::member_config_dir(), ORVEL_LOCAL_HOST_NAME);
    if (!certificate.note.empty()) {
        log(2, "%s", certificate.note.c_str());
    }
    if (!certificate.problem.empty()) {
        log(3, "The member's own certificate cannot be used: %s", certificate.problem.c_str());
    }
    const std::string& key_path = certificate.files.key;
    const std::string& cert_path = certificate.files.certificate;
    log(2, "Keys path: %s", key_path.c_str());
    try {
        serve(key_path, cert_path, file->path());
    } catch (const intl_exception& e) {
        log(3, "Failed: %s", e.message().c_str());
    } catch (const extl_exception& e) {
        log(3, "Failed: %d", static_cast<int>(code_value(e.code())));
    } catch (const base_exception& e) {
        log(3, "Failed: %s", e.message().c_str());
    } catch (const std::exception& e) {
        log(3, "Failed: %s", e.what());
    }
    log(3, "app exited");
    file.reset();
    return 0;
}

}  // namespace orvel
