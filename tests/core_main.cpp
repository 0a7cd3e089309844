#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv) {
    // As the program does with a UTF-8 locale: Chinese texts can be encoded.
    std::setlocale(LC_ALL, "C.UTF-8");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
