// Test main for tests of windows: a real application object on the offscreen
// platform unless the caller chose another one (an Xvfb display), with the
// program's font substitutions in place.
#include <gtest/gtest.h>

#include "shell/Application.h"
#include "ui/Fonts.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    tarnwell::Application app(argc, argv);
    tarnwell::setUpFonts();
    return RUN_ALL_TESTS();
}
