#include <gtest/gtest.h>
#include <QApplication>

#include <clocale>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As the program does with a UTF-8 locale: Chinese texts can be encoded.
    // After the toolkit, which sets the environment's.
    std::setlocale(LC_ALL, "C.UTF-8");
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests start a fresh process: the toolkit runs threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    return RUN_ALL_TESTS();
}
