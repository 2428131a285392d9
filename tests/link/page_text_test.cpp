#include "link/page_text.h"

#include <gtest/gtest.h>

namespace orvel {
namespace {

const std::string replacement = "\xEF\xBF\xBD";

TEST(PageText, KeepsUtf8AndReplacesEachBrokenSequence) {
    EXPECT_EQ(page_text("plain / \"quoted\""), "plain / \"quoted\"");
    EXPECT_EQ(page_text("Caf\xC3\xA9 \xF0\x9F\x8F\x8C"), "Caf\xC3\xA9 \xF0\x9F\x8F\x8C");
    // A code-page byte, a lone continuation, an overlong form and a surrogate.
    EXPECT_EQ(page_text("Caf\xE9!"), "Caf" + replacement + "!");
    EXPECT_EQ(page_text("\x80"
                        "a"),
              replacement + "a");
    EXPECT_EQ(page_text("\xC0\xAF"), replacement + replacement);
    EXPECT_EQ(page_text("\xED\xA0\x80"), replacement + replacement + replacement);
    // A sequence cut short by a valid character keeps that character; one cut by the end
    // of the line still gives one replacement.
    EXPECT_EQ(page_text("\xE2\x82"
                        "A\xC3\xA9"),
              replacement + "A\xC3\xA9");
    EXPECT_EQ(page_text("end \xF0\x9F\x8F"), "end " + replacement);
}

}  // namespace
}  // namespace orvel
