// The framed messages of Tavlin units: A0 A2, a length, B6, the message type, a short text,
// a 15-bit sum and B0 B3. Replies echo the type and carry a text that starts with '0' when
// the message was taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/data_stream.h"

namespace orvel {

namespace tavlin {

inline constexpr std::uint8_t test = 0x60;
inline constexpr std::uint8_t leave = 0x61;
inline constexpr std::uint8_t course_name = 0x62;
inline constexpr std::uint8_t new_course = 0x63;
inline constexpr std::uint8_t point = 0x68;
inline constexpr std::uint8_t tees = 0x69;

}  // namespace tavlin

// Clears out and fills it with the message; the bytes to send. A sum whose low byte is B0
// would look like the start of the end mark, so an empty packet follows it on the wire.
std::size_t build_message(std::uint8_t type, const std::string& text, byte_vector& out);

// The text of a reply to a message of that type; false when the reply is not framed as one
// (too short, another type, no start or end mark, or a length that runs past it).
bool reply_of(const byte_vector& reply, std::uint8_t type, std::string& text);

// The course name in the text of a reply to a course-name message: what follows its first
// ','. False when there is no ',' or nothing after it.
bool held_course_name(const std::string& text, std::string& held);

}  // namespace orvel
