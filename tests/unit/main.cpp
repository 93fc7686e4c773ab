// Test entry: a QApplication on the offscreen platform gives every test a Qt
// event loop, so coroutines, timers and ports run as they do in the server.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
