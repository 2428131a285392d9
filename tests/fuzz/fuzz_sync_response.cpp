// The service's answers: the envelope and a course record. An answer parses with a
// status of 1 and a whole record, or fails as a coded service failure; only a value the
// JSON library cannot convert may fail with that library's own error.
#include <json/value.h>

#include <cstdint>

#include "cloud/course.h"
#include "cloud/course_response.h"
#include "fuzz/fuzz_check.h"
#include "platform/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orvel::memory_stream stream(size + 1);
    stream.write(orvel::byte_vector(data, data + size));
    stream.seek(0);
    orvel::course_response<orvel::course> answer;
    try {
        answer.parse(stream);
        FUZZ_CHECK(answer.status == 1);
        FUZZ_CHECK(!answer.record.course_name.empty());
        FUZZ_CHECK(answer.record.glf.size() <= size);
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
    return 0;
}
