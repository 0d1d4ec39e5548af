#include <gtest/gtest.h>

#include <QCoreApplication>

// The reachability monitor posts its reports through the main thread's event
// loop, so the tests run inside an application object.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
