// What a failing call says.
#pragma once

#include <functional>
#include <string>

#include "base/failures.h"

namespace orvel::test {

// The message of the agent's failure the action throws; "(nothing thrown)" when it throws
// none.
inline std::string thrown_text(const std::function<void()>& action) {
    try {
        action();
    } catch (const base_exception& e) {
        return e.message();
    }
    return "(nothing thrown)";
}

}  // namespace orvel::test
