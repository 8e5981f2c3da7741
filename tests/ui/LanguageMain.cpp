// The desktop program headless, speaking as it speaks to a forecaster: its language set up as
// main() sets it up, under a locale that asks for English and writes numbers its own way.

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/DesktopLanguage.h"

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::setenv("G_SLICE", "always-malloc", 1);
    // Every category from the environment, as Qt takes it, and English asked for by name.
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ::setenv("LANGUAGE", "en_US:en", 1);
    QApplication app(argc, argv);
    quorlin::SpeakDesktopLanguage(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
