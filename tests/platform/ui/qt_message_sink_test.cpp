// The Qt message sink: posted messages reach their window's handler on the GUI thread in
// posting order, and message boxes are shown without an event loop of their own, one per
// text: sixteen decoder threads failing alike give one box.
#include "platform/ui/qt_message_sink.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QWidget>
#include <thread>
#include <vector>

namespace taviro::platform::ui {
namespace {

std::vector<QMessageBox*> Boxes() {
    std::vector<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            boxes.push_back(box);
    }
    return boxes;
}

TEST(QtMessageSink, DeliversInOrderAndShowsEachMessageBoxTextOnce) {
    CQtMessageSink sink;
    QWidget parent;
    parent.show();
    sink.SetMessageBoxParent(&parent);
    std::vector<std::uint64_t> seen;
    sink.SetHandler(Window::Main, [&](const PostedMessage& m) { seen.push_back(m.wParam); });

    std::vector<std::thread> decoders;
    for (int c = 0; c < 16; ++c) {
        decoders.emplace_back([&sink, c] {
            sink.ShowMessageBox("H.264 Decoder Init Error !");
            sink.Post(Window::Search, WM_CONTROL_STATE, static_cast<std::uint64_t>(c),
                      0);  // no handler
        });
    }
    for (auto& t : decoders)
        t.join();
    for (std::uint64_t i = 0; i < 5; ++i)
        sink.Post(Window::Main, WM_CONTROL_STATE, i, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sink.Pending() == 0; }, 2000));

    EXPECT_EQ(seen, (std::vector<std::uint64_t>{0, 1, 2, 3, 4}));
    auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u) << "one box for sixteen equal errors";
    EXPECT_EQ(boxes[0]->text(), QStringLiteral("H.264 Decoder Init Error !"));
    EXPECT_EQ(boxes[0]->windowModality(), Qt::WindowModal);
    EXPECT_EQ(sink.OpenMessageBoxes().size(), 1);

    // Another text gets its own box; once the first is closed, its text may come again.
    sink.ShowMessageBox("Not MRKD7310 or TQ71!");
    ASSERT_TRUE(QTest::qWaitFor([&] { return Boxes().size() == 2; }, 2000));
    boxes[0]->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sink.OpenMessageBoxes().size() == 1; }, 2000));
    sink.ShowMessageBox("H.264 Decoder Init Error !");
    ASSERT_TRUE(QTest::qWaitFor([&] { return sink.OpenMessageBoxes().size() == 2; }, 2000));
    for (QMessageBox* box : Boxes())
        box->accept();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sink.OpenMessageBoxes().isEmpty(); }, 2000));
}

}  // namespace
}  // namespace taviro::platform::ui
