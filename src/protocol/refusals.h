// What each refusal from the recorder means for the user: reason code -> notification
// (category, code) for the main window's popup, as data. Reasons a refusal does not list
// produce nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/message_sink.h"

namespace taviro::protocol {

struct Notification {
    int category = 0;
    int code = 0;
    friend bool operator==(const Notification&, const Notification&) = default;
};

// One reason of one refusal. Most post a notification; a few instead post a window
// message to another window (the recorder is busy with nothing to list: the calendar
// opens and finds no data).
struct ReasonRule {
    std::int32_t reason;
    Notification notification;
    std::uint32_t windowMessage = 0;  // non-zero: post this instead of a notification
    platform::Window window = platform::Window::Main;
};

struct RefusalRule {
    std::uint16_t code;  // recorder-to-client code of the refusal
    std::span<const ReasonRule> reasons;
    // The popup's parent window (event-search refusals belong to the search dialog).
    platform::Window parent = platform::Window::Main;
    // A 12-byte refusal keeps its two extra values for the popup (transfer sizes).
    bool keepsExtraValues = false;
};

// The rule for a refusal code, or nullptr when the code is no refusal handled this way.
const RefusalRule* FindRefusal(std::uint16_t code);
// The rule for one reason of one refusal, or nullptr when that reason posts nothing.
const ReasonRule* MapRefusal(std::uint16_t code, std::int32_t reason);

// The recorder's goodbye: reason -> notification; nullopt for reasons it does not list.
std::optional<Notification> ByeNotification(std::int32_t reason);

}  // namespace taviro::protocol
