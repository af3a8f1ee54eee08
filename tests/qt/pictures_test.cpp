#include "platform/qt/pictures.h"
#include "tests/qt/qt_test_support.h"

#include <QImage>
#include <gtest/gtest.h>

namespace tavro {
namespace {

// A panel asks for its own size, a dense screen for twice the pixels: each is
// drawn, never scaled from another size, and the crossed face differs at each.
TEST(PicturesTest, IconsComeAtEverySideAndAtDoubleDensity) {
    qttest::ensureApplication();
    const QIcon enabled = qt::iconFor(Icon::Enabled);
    const QIcon disabled = qt::iconFor(Icon::Disabled);
    EXPECT_TRUE(qt::iconFor(Icon::None).isNull());
    for (const int side : qt::IconSides) {
        SCOPED_TRACE(side);
        EXPECT_TRUE(enabled.availableSizes().contains(QSize(side, side)));
        for (const int ratio : {1, 2}) {
            const QPixmap pixmap = enabled.pixmap(QSize(side, side), ratio);
            EXPECT_EQ(pixmap.size(), QSize(side, side) * ratio);
            EXPECT_EQ(pixmap.devicePixelRatio(), qreal(ratio));
            EXPECT_EQ(pixmap.toImage(), qt::facePicture(false, side * ratio, 1.0).toImage())
                << "scaled, not drawn";
            EXPECT_NE(disabled.pixmap(QSize(side, side), ratio).toImage(), pixmap.toImage());
        }
    }
}

} // namespace
} // namespace tavro
