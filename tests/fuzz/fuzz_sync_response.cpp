// The service's answers: the envelope and a course record.
#include <cstdint>

#include "cloud/course.h"
#include "cloud/course_response.h"
#include "fuzz/fuzz_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orvel::course_response<orvel::course> answer;
    fuzz::parse_answer(answer, data, size, [&] {
        FUZZ_CHECK(!answer.record.course_name.empty());
        FUZZ_CHECK(answer.record.glf.size() <= size);
    });
    return 0;
}
