#include "fakes.h"

#include <gtest/gtest.h>

namespace {

TEST(vbGetHostByName, shouldReportAFailedLookupAndKeepTheAddress) {
    for (const auto& [error, text] : {std::pair{11001, "Winsock Error 11001"},
                                      {0, "Winsock Error 0"},
                                      {-5, "Winsock Error-5"}}) {
        FakeForm f;
        f.form.DestAddress = 0x04030201;
        f.form.Host.setText("nowhere.invalid");
        f.form.txtStatus.setText("earlier");
        f.winsock.missError = error;
        f.form.vbGetHostByName();
        EXPECT_EQ(f.text(), text);
        EXPECT_EQ(f.form.NetErrorFlag, 1);
        EXPECT_EQ(f.form.DestAddress, 0x04030201u);
    }
}

}  // namespace
