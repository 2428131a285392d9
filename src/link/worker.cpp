#include "link/worker.h"

#include <chrono>
#include <cinttypes>

#include "link/page_text.h"
#include "platform/peer_owner.h"
#include "platform/socket_state.h"

namespace orvel {

namespace {

const char* const connect_text = "{\"command\":\"connect\"}";
const char* const disconnect_text = "{\"command\":\"disconnect\"}";
const char* const one_client_text = "Only one client connection is supported.";
const char* const another_user_text = "This agent serves another user";

// A queued line and stop_event wake the sender; the time-out is only a backstop. Twenty
// wake-ups a second would cost an idle agent half its CPU time.
constexpr std::uint32_t sender_wake_ms = 1000;
// Commands the loop has not taken yet. It takes one in a millisecond or two, so a page this
// far ahead is flooding it; with messages of at most 64 KiB the queue stays within 16 MiB.
constexpr std::size_t command_queue_limit = 256;
// At shutdown the page gets this long to acknowledge the close before the loop stops.
constexpr auto close_grace = std::chrono::milliseconds(500);

bool same_connection(const connection_handle& a, const connection_handle& b) {
    return !a.owner_before(b) && !b.owner_before(a);
}

}  // namespace

void websock_logger::write(const std::string& line) {
    if (owner_.connection_state_ != worker::client_connected) {
        return;
    }
    owner_.send_queue_.push(
        send_info{owner_.client(), page_text(line), websocketpp::frame::opcode::text});
}

worker::worker(std::string key_path, std::string cert_path, safe_fifo<std::string>& commands,
               event& stop_event, origin_policy origins)
    : websock_server(std::move(key_path), std::move(cert_path)),
      origins_(std::move(origins)),
      commands_(commands),
      stop_event_(stop_event),
      logger_(*this) {
    send_queue_.set_arrival_event(&send_wake_);
}

worker::~worker() {
    if (sender_.joinable() || server_.joinable()) {
        stop();
    }
    remove_logger(&logger_);
    stop_event_.unlink(send_wake_);
}

bool worker::run() {
    install_handlers();
    if (!listen()) {
        return false;
    }
    add_logger(&logger_);
    stop_event_.link(send_wake_);
    sender_ = std::thread(&worker::sender_loop, this);
    server_ = std::thread(&worker::server_loop, this);
    return true;
}

void worker::stop() {
    stop_event_.set();
    // The sender first: it sends what is still queued and closes the page while the event
    // loop still runs to carry the frames out.
    if (sender_.joinable()) {
        sender_.join();
    }
    remove_logger(&logger_);
    connection_state_ = idle;
    endpoint().stop();
    if (server_.joinable()) {
        server_.join();
    }
}

// --- handlers, on the server thread, in the order a connection lives ---

bool worker::on_validate(connection_handle handle) {
    tls_endpoint::connection_ptr connection = endpoint().get_con_from_hdl(handle);
    // Every account on the machine reaches the loopback, and the agent drives the member's
    // units with the member's credentials: only the member's own programs get in. A peer
    // whose user cannot be found is refused too, as nothing shows it to be the member's.
    const std::optional<std::string> user = platform::peer_user(connection->get_raw_socket());
    const std::string own = platform::own_user();
    if (!user || *user != own) {
        if (user) {
            log(3, "Connection of another user refused: user %s (this agent serves user %s)",
                user->c_str(), own.c_str());
        } else {
            log(3, "Connection refused: its user cannot be found");
        }
        connection->set_body(another_user_text);
        connection->set_status(websocketpp::http::status_code::forbidden);
        return false;
    }
    // Browsers always send an Origin; a local program that sends none is let in.
    const std::string& origin = connection->get_request_header("Origin");
    if (!origin.empty() && !origins_.allows(origin)) {
        log(3, "Origin refused: %s", origin.c_str());
        connection->set_status(websocketpp::http::status_code::forbidden);
        return false;
    }
    if (connection_state_ != client_connected) {
        return true;
    }
    // A reloaded page arrives while the old one's TLS shutdown may still wait for the
    // browser; the old page is dropped first so the command loop sees it leave, then enter.
    if (client_is_leaving()) {
        drop();
        return true;
    }
    connection->set_body(one_client_text);
    connection->set_status(websocketpp::http::status_code::too_many_requests);
    return false;
}

void worker::on_connected(connection_handle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    set_client(handle);
    connection_state_ = client_connected;
    commands_.push(connect_text);
    log(3, "on_connected 0x%" PRIxPTR " %ld", connection_address(handle), strong_count(handle));
}

void worker::on_message(connection_handle handle, tls_endpoint::message_ptr message) {
    // A page that has been dropped may still have messages under way; they are not the next
    // page's commands.
    if (!same_connection(handle, client())) {
        return;
    }
    if (commands_.size() >= command_queue_limit) {
        log(3, "Page closed: %zu commands not yet taken", command_queue_limit);
        // "Try again later" rather than a policy violation: the library drops the socket right
        // after a terminal code's close frame, unread texts and all, and the reset that follows
        // can take the frame with it; for this code it reads on until the page answers.
        websocketpp::lib::error_code ec;
        endpoint().close(handle, websocketpp::close::status::try_again_later, "Too many commands",
                         ec);
        drop_if_client(handle);
        return;
    }
    const std::string& payload = message->get_payload();
    commands_.push(payload);
    log(3, "Received message: %s", payload.c_str());
}

void worker::on_disconnected(connection_handle handle) {
    websocketpp::lib::error_code ec;
    tls_endpoint::connection_ptr connection = endpoint().get_con_from_hdl(handle, ec);
    // The library closed it while reading the message, which is neither queued nor logged.
    if (connection &&
        connection->get_local_close_code() == websocketpp::close::status::message_too_big) {
        log(3, "Page closed: a message above %zu bytes", max_message_size);
    }
    log(3, "on_disconnected 0x%" PRIxPTR " %ld", connection_address(handle), strong_count(handle));
    drop_if_client(handle);
}

void worker::on_fail(connection_handle handle) {
    websocketpp::lib::error_code ec;
    tls_endpoint::connection_ptr connection = endpoint().get_con_from_hdl(handle, ec);
    const std::string reason = connection ? connection->get_local_close_reason() : std::string();
    log(3, "on_fail get_local_close_reason: %s", reason.c_str());
    drop_if_client(handle);
}

bool worker::client_is_leaving() {
    websocketpp::lib::error_code ec;
    tls_endpoint::connection_ptr stored = endpoint().get_con_from_hdl(client(), ec);
    if (!stored || stored->get_state() != websocketpp::session::state::open) {
        return true;
    }
    // A closed tab's socket ends while the new tab loads; when the new page's handshake is
    // read first, the end is already known to the system though not yet to the loop.
    return platform::peer_has_hung_up(stored->get_socket().lowest_layer());
}

void worker::drop() {
    drop_locked(nullptr);
}

void worker::drop_if_client(const connection_handle& handle) {
    drop_locked(&handle);
}

void worker::drop_locked(const connection_handle* only) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const connection_handle stored = client();
        if (only != nullptr && !same_connection(stored, *only)) {
            return;
        }
        connection_state_ = listening;
        log(3, "drop 0x%" PRIxPTR " %ld", connection_address(stored), strong_count(stored));
        set_client({});
        // What was sent by the page and not yet taken, and what was queued for it, goes with
        // it: the next page's commands must not wait behind its leftovers, nor see them carried
        // out with its settings. Under the mutex, so that the next page's "connect" (queued by
        // on_connected under it) comes after this "disconnect".
        send_queue_.clear();
        commands_.clear();
        commands_.push(disconnect_text);
    }
}

connection_handle worker::client() {
    std::lock_guard<std::mutex> lock(client_mutex_);
    return client_;
}

void worker::set_client(connection_handle handle) {
    std::lock_guard<std::mutex> lock(client_mutex_);
    client_ = std::move(handle);
}

// --- sender thread ---

void worker::sender_loop() {
    for (;;) {
        // A queued line or stop_event wakes it; the time-out is a backstop.
        send_wake_.wait(sender_wake_ms);
        send_wake_.clear();
        const bool stopping = stop_event_.is_set();
        if (connection_state_ == client_connected && !send_queue_.empty()) {
            send_queued();
            continue;  // at shutdown, until the queue is empty
        }
        if (stopping) {
            break;
        }
    }
    finish_sending();
}

void worker::send_queued() {
    // Everything queued now, not one line per wake-up: a unit update logs far faster than
    // twenty lines a second. Lines queued meanwhile wait for the next pass, so a busy logger
    // cannot keep the sender from seeing stop_event.
    std::size_t count = send_queue_.size();
    send_info info;
    while (count-- > 0 && connection_state_ == client_connected && send_queue_.pop(info)) {
        send_one(info);
    }
}

void worker::send_one(const send_info& info) {
    websocketpp::lib::error_code ec;
    endpoint().send(info.handle, info.payload, info.opcode, ec);
    if (!ec) {
        return;
    }
    // A line for a page that has gone fails as a bad connection; there is nobody to drop.
    if (ec != websocketpp::error::bad_connection) {
        drop_if_client(info.handle);
    }
    if (stop_event_.wait(1)) {
        return;  // failures while shutting down are expected
    }
    log(3, "send failed: %s. 0x%" PRIxPTR " %ld. Message: %s", ec.message().c_str(),
        connection_address(info.handle), strong_count(info.handle), info.payload.c_str());
}

void worker::finish_sending() {
    websocketpp::lib::error_code ec;
    tls_endpoint::connection_ptr connection = endpoint().get_con_from_hdl(client(), ec);
    if (connection) {
        // The close frame goes out behind every queued line; once the page has answered it,
        // the page has read them all.
        connection->close(websocketpp::close::status::going_away, "", ec);
        const auto deadline = std::chrono::steady_clock::now() + close_grace;
        while (!ec && connection->get_state() != websocketpp::session::state::closed &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    remove_logger(&logger_);
    connection_state_ = idle;
    endpoint().stop();
}

// --- server thread ---

void worker::server_loop() {
    connection_state_ = listening;
    for (;;) {
        try {
            endpoint().run();
            break;
        } catch (const std::exception& e) {
            // A handler that throws must not end the server; the loop carries on.
            log(3, "server loop exception: %s", e.what());
        }
    }
    drop();
    connection_state_ = idle;
    stop_event_.set();
}

}  // namespace orvel
