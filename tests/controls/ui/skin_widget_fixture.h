// A shown parent window over the loaded skin pack, for the skinned widget tests.
#pragma once

#include <gtest/gtest.h>

#include <QTest>
#include <QWidget>
#include <memory>

#include "controls/ui/skin_paint.h"
#include "platform/ui/skin_library.h"

namespace taviro::controls::ui {

class SkinWidgetTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(platform::ui::Skin().Load(qEnvironmentVariable("TAVIRO_SKIN")));
    }
    void SetUp() override {
        m_parent = std::make_unique<QWidget>();
        m_parent->resize(400, 200);
        QPalette palette = m_parent->palette();
        palette.setColor(QPalette::Window, QColor(0x40, 0x80, 0x20));
        m_parent->setPalette(palette);
        m_parent->setAutoFillBackground(true);
    }
    void Show() {
        m_parent->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_parent.get()));
    }
    // The frame a strip shows for `index`, as the widget draws it.
    static QImage Frame(int picture, int frames, int index) {
        return StripFrame(platform::ui::Skin().Image(picture), frames, index);
    }
    static QRgb Centre(const QImage& image) {
        return image.pixel(image.width() / 2, image.height() / 2) | 0xFF000000u;
    }
    std::unique_ptr<QWidget> m_parent;
};

}  // namespace taviro::controls::ui
