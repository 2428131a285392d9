// What the targets that read the service's answers share: an answer parses with a status of
// 1, after which the target checks its fields, or fails as a coded service failure; only a
// value the JSON library cannot convert may fail with that library's own error.
#pragma once

#include <json/value.h>

#include <cstddef>
#include <cstdint>

#include "base/failures.h"
#include "cloud/sync_response.h"
#include "fuzz/fuzz_check.h"
#include "platform/memory_stream.h"

namespace fuzz {

template <typename CheckFields>
void parse_answer(orvel::sync_response& answer, const std::uint8_t* data, std::size_t size,
                  const CheckFields& check_fields) {
    orvel::memory_stream stream(static_cast<std::uint32_t>(size + 1));
    stream.write(data, static_cast<std::uint32_t>(size));
    stream.seek(0);
    try {
        answer.parse(stream);
        FUZZ_CHECK(answer.status == 1);
        check_fields();
    } catch (const orvel::extl_exception& e) {
        const auto code = e.code();
        FUZZ_CHECK(code == orvel::sync_error_code::bad_response ||
                   code == orvel::sync_error_code::service_status_214 ||
                   code == orvel::sync_error_code::service_status_218 ||
                   code == orvel::sync_error_code::course_sync_index ||
                   code == orvel::sync_error_code::sync_index_not_repaired ||
                   code == orvel::sync_error_code::serial_number_rejected);
    } catch (const orvel::sync_index_exception&) {
    } catch (const Json::Exception&) {
    }
}

}  // namespace fuzz
