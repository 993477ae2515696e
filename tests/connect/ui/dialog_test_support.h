// Helpers of the dialog window tests: the skin pack, clicks on skinned buttons, acting on a
// modal dialog once it runs, scratch folders and file bytes.
#pragma once

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "controls/ui/skin_button_widget.h"
#include "platform/ui/skin_library.h"

namespace taviro::testing {

inline void LoadSkinOnce() {
    if (!platform::ui::Skin().Loaded()) {
        platform::ui::Skin().Load(qEnvironmentVariable("TAVIRO_SKIN"));
    }
}

inline void Click(controls::ui::CSkinButtonWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton, Qt::KeyboardModifiers(), button->rect().center());
}

// Runs `act` on the first modal dialog of type T once the event loop shows one; gives up
// after about two seconds (the test then fails on what it expected to happen).
template <class T>
void WhenModal(std::function<void(T*)> act, int tries = 200) {
    QTimer::singleShot(10, qApp, [act = std::move(act), tries]() mutable {
        if (auto* dialog = dynamic_cast<T*>(QApplication::activeModalWidget())) {
            act(dialog);
        } else if (tries > 0) {
            WhenModal<T>(std::move(act), tries - 1);
        }
    });
}

inline std::vector<std::uint8_t> FileBytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

inline std::uint32_t Le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b.at(at)) | static_cast<std::uint32_t>(b.at(at + 1)) << 8 |
           static_cast<std::uint32_t>(b.at(at + 2)) << 16 |
           static_cast<std::uint32_t>(b.at(at + 3)) << 24;
}

// The zero-terminated text of a fixed field; the rest of the field must be zero.
inline std::string Field(const std::vector<std::uint8_t>& b, std::size_t at, std::size_t width,
                         bool* padded = nullptr) {
    std::string text;
    std::size_t i = 0;
    for (; i < width && b.at(at + i) != 0; ++i) {
        text.push_back(static_cast<char>(b.at(at + i)));
    }
    bool zero = true;
    for (; i < width; ++i) {
        zero = zero && b.at(at + i) == 0;
    }
    if (padded) {
        *padded = zero;
    }
    return text;
}

}  // namespace taviro::testing
