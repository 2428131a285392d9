// The USB-disk models' answers: the first byte picks restore, full update or ephemeris, the
// rest is the answer. A taken answer pairs every URL with a file, a full update holds whole
// rounds of 18 holes and its categories in byte order of their names.
#include <algorithm>
#include <cstdint>

#include "devices/usbdisk/ephemerislog_response.h"
#include "devices/usbdisk/full_update_response.h"
#include "fuzz/fuzz_answer.h"

namespace {

void check_files(const orvel::USBDiskRestoreResponse& answer, std::size_t size) {
    FUZZ_CHECK(answer.urls.size() == answer.files.size());
    FUZZ_CHECK(answer.urls.size() <= size);
    FUZZ_CHECK(answer.setupType.size() <= size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t kind = data[0] % 3;
    ++data;
    --size;
    if (kind == 0) {
        orvel::USBDiskRestoreResponse answer;
        fuzz::parse_answer(answer, data, size, [&] { check_files(answer, size); });
    } else if (kind == 1) {
        orvel::USBDiskFullUpdateResponse answer;
        fuzz::parse_answer(answer, data, size, [&] {
            check_files(answer, size);
            for (const auto& round : answer.user_scores.records) {
                FUZZ_CHECK(round.score.size() == 18);
                FUZZ_CHECK(round.course_name.size() <= size);
            }
            const auto& categories = answer.articles.categories;
            FUZZ_CHECK(
                std::is_sorted(categories.begin(), categories.end(),
                               [](const auto& a, const auto& b) { return a.name < b.name; }));
        });
    } else {
        orvel::ephemerislog_response answer;
        fuzz::parse_answer(answer, data, size, [&] { FUZZ_CHECK(answer.url.size() <= size); });
    }
    return 0;
}
