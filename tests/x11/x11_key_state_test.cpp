// The Ctrl key read from a virtual X server while xdotool holds it down.

#include "platform/x11/x11_key_state.h"
#include "tests/support/virtual_display.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace tavro {
namespace {

bool down(std::int16_t state) {
    return (static_cast<std::uint16_t>(state) & 0x8000U) != 0;
}

class KeyStateOnX : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(display.running()) << "Xvfb could not be started"; }
    void xdotool(const std::string& arguments) {
        const std::string command = "DISPLAY=" + display.name() + " xdotool " + arguments;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    testing::VirtualDisplay display;
};

TEST_F(KeyStateOnX, EitherCtrlKeySetsBit15WhileHeld) {
    x11::X11KeyState keys(display.name());
    EXPECT_FALSE(down(keys.GetKeyState(VK_CONTROL)));
    for (const char* key : {"Control_L", "Control_R"}) {
        xdotool(std::string("keydown ") + key);
        EXPECT_TRUE(down(keys.GetKeyState(VK_CONTROL))) << key;
        xdotool(std::string("keyup ") + key);
        EXPECT_FALSE(down(keys.GetKeyState(VK_CONTROL))) << key;
    }
}

TEST_F(KeyStateOnX, OtherKeysHeldDoNotReadAsCtrl) {
    x11::X11KeyState keys(display.name());
    xdotool("keydown shift keydown alt");
    EXPECT_FALSE(down(keys.GetKeyState(VK_CONTROL)));
    EXPECT_EQ(keys.GetKeyState(16), 0) << "keys other than Ctrl are not read";
    xdotool("keyup shift keyup alt");
}

TEST(KeyStateWithoutX, ReadsAsUpWhereNoServerAnswers) {
    x11::X11KeyState keys(":987");
    EXPECT_EQ(keys.GetKeyState(VK_CONTROL), 0);
    EXPECT_EQ(keys.GetKeyState(VK_CONTROL), 0);
}

} // namespace
} // namespace tavro
