#include "netns.h"

#include <QTemporaryFile>

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <clocale>

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

// An internationalised name resolves through the hosts file; without a UTF-8
// locale it cannot be written for the resolver and is not found.
TEST(vbGetHostByName, shouldResolveAnInternationalisedName) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root for a private mount namespace with its own /etc/hosts";
    }
    QTemporaryFile hosts;
    ASSERT_TRUE(hosts.open());
    hosts.write("198.18.7.7 xn--fsqu00a.xn--0zwm56d\n");
    hosts.flush();
    withMounts({{hosts.fileName().toStdString(), "/etc/hosts", nullptr, ""}}, [] {
        for (const auto& [name, failure] :
             {std::pair{"C.UTF-8", ""}, {"C", "Winsock Error 11001"}}) {
            SCOPED_TRACE(name);
            // This thread's alone.
            const locale_t locale = newlocale(LC_ALL_MASK, name, nullptr);
            uselocale(locale);
            RealForm r;
            r.form.Host.setText("例子.测试");
            r.form.vbGetHostByName();
            EXPECT_EQ(r.form.txtStatus.text(), failure);
            EXPECT_EQ(r.form.DestAddress == inet_addr("198.18.7.7"), *failure == '\0');
            uselocale(LC_GLOBAL_LOCALE);
            freelocale(locale);
        }
    });
}

}  // namespace
