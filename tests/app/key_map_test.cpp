// The main window's key table: one meaning per key, every command reachable and explained,
// and no key that the playback, PTZ or full-screen keys already take.
#include "app/key_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

namespace taviro::app {
namespace {

std::string Upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

TEST(KeyMapTest, OneMeaningPerKeyAndEveryCommandHasAKeyAndAText) {
    std::set<std::string> keys;
    std::set<int> layoutButtons;
    for (const KeyBinding& b : KeyBindings()) {
        EXPECT_TRUE(keys.insert(Upper(b.key)).second) << "key bound twice: " << b.key;
        EXPECT_FALSE(b.meaning.empty()) << b.key;
        if (b.command == KeyCommand::kLayout) {
            EXPECT_GE(b.argument, 320) << b.key;
            EXPECT_LE(b.argument, 328) << b.key;
            layoutButtons.insert(b.argument);
        }
    }
    EXPECT_EQ(layoutButtons.size(), 9u) << "every layout button has its key";
    for (const KeyCommand command : AllKeyCommands()) {
        EXPECT_TRUE(std::any_of(KeyBindings().begin(), KeyBindings().end(),
                                [command](const KeyBinding& b) { return b.command == command; }))
            << "command without a key: " << static_cast<int>(command);
    }
    // Taken elsewhere in the window: PTZ steering, remote playback, leaving full screen.
    for (const char* taken :
         {"UP", "DOWN", "LEFT", "RIGHT", "+", "=", "-", "SPACE", "ESC", "RETURN", "ENTER"})
        EXPECT_EQ(keys.count(taken), 0u) << taken;
}

}  // namespace
}  // namespace taviro::app
