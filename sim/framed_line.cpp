#include "sim/framed_line.h"

namespace orvel::test {

framed_line::framed_line(framer frame, answerer answer)
    : frame_(std::move(frame)),
      answer_(std::move(answer)),
      line_([this](const std::uint8_t* bytes, std::size_t count) { on_bytes(bytes, count); }) {}

void framed_line::go_silent(std::size_t after_answers) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_left_ = after_answers;
}

void framed_line::speak() {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_left_.reset();
}

void framed_line::babble(byte_vector noise) {
    std::lock_guard<std::mutex> lock(mutex_);
    noise_ = std::move(noise);
}

void framed_line::hang_up_after(std::size_t messages) {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_left_ = messages;
}

std::vector<byte_vector> framed_line::messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

void framed_line::on_bytes(const std::uint8_t* bytes, std::size_t count) {
    pending_.insert(pending_.end(), bytes, bytes + count);
    while (!pending_.empty()) {
        const std::size_t length = frame_(pending_);
        if (length == skip_byte) {
            pending_.erase(pending_.begin());
            continue;
        }
        if (length == 0 || length > pending_.size()) {
            return;
        }
        const byte_vector message(pending_.begin(), pending_.begin() + length);
        pending_.erase(pending_.begin(), pending_.begin() + length);
        byte_vector reply;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            messages_.push_back(message);
            if (messages_left_ && (*messages_left_)-- <= 1) {
                line_.hang_up();
                return;
            }
            if (answers_left_ && (*answers_left_)-- == 0) {
                answers_left_ = 0;
                continue;
            }
            reply = noise_;
        }
        if (reply.empty()) {
            reply = answer_(message);
        }
        line_.send(reply.data(), reply.size());
    }
}

}  // namespace orvel::test
