// The page's link: one client at a time, its texts into the command queue, and every log
// line back to it through the send queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "base/events.h"
#include "base/log_hub.h"
#include "base/safe_fifo.h"
#include "link/origin_policy.h"
#include "link/send_info.h"
#include "link/websock_server.h"

namespace orvel {

class worker;

// Mirrors every log line to the connected page. Called with the log hub's mutex held, so it
// only queues.
class websock_logger final : public base_logger {
public:
    explicit websock_logger(worker& owner) : owner_(owner) {}
    void write(const std::string& line) override;

private:
    worker& owner_;
};

class worker : public websock_server {
public:
    // connection_state values
    static constexpr std::int32_t idle = 0;  // the event loop is not running
    static constexpr std::int32_t listening = 1;
    static constexpr std::int32_t client_connected = 2;

    worker(std::string key_path, std::string cert_path, safe_fifo<std::string>& commands,
           event& stop_event, origin_policy origins = origin_policy());
    // Stops the threads if they still run.
    ~worker() override;

    // Listens, registers the client logger and starts the sender and server threads; false
    // after logging when no port can be served.
    bool run();
    // Sets stop_event, lets the sender hand the page what is queued and close it, then stops
    // the event loop and waits for both threads.
    void stop();

    std::int32_t connection_state() const { return connection_state_; }

private:
    friend class websock_logger;

    void on_message(connection_handle handle, tls_endpoint::message_ptr message) override;
    bool on_validate(connection_handle handle) override;
    void on_connected(connection_handle handle) override;
    void on_disconnected(connection_handle handle) override;
    void on_fail(connection_handle handle) override;

    // True when the stored client no longer holds the one-client slot: its close handshake
    // has begun or its socket has failed, though its TLS shutdown may still be under way.
    bool client_is_leaving();
    // Forgets the stored client with what it left queued either way, and tells the command
    // loop that the page is gone.
    void drop();
    // drop() only when the handle is the stored client: a refused second page or a connection
    // that already ended must not end the session of the page that is connected.
    void drop_if_client(const connection_handle& handle);
    void drop_locked(const connection_handle* only);

    connection_handle client();
    void set_client(connection_handle handle);

    void sender_loop();
    void send_queued();
    void send_one(const send_info& info);
    void finish_sending();
    void server_loop();

    const origin_policy origins_;
    std::atomic<std::int32_t> connection_state_{idle};
    safe_fifo<std::string>& commands_;
    event& stop_event_;
    // Guards the stored client together with the state changes of on_connected and drop.
    std::mutex mutex_;
    // A leaf lock over the handle alone, so websock_logger can copy it while on_connected or
    // drop (which log under mutex_) replace it; never held while logging.
    std::mutex client_mutex_;
    connection_handle client_;
    safe_fifo<send_info> send_queue_;
    // Set by every line queued for the page and by stop_event.
    event send_wake_;
    websock_logger logger_;
    std::thread sender_;
    std::thread server_;
};

}  // namespace orvel
