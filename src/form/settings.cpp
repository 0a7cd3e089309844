// Start-up and the settings file.

#include "form/frm_ping.h"
#include "platform/locale_codec.h"
#include "report/procedure.h"

#include <QFile>

#include <array>

namespace {

constexpr uint16_t kVersionKept = 0x0202;
constexpr uint32_t kValueBuffer = 1024;

const QString kSection = QStringLiteral("settings");

// Bytes for a system call; a text the locale cannot hold is no failure here,
// it just matches nothing.
QByteArray localeBytes(const QString& text) {
    return encodeLocale(text).value_or(QByteArray());
}

}  // namespace

void FrmPing::Form_Load() {
    report(u"in Form_Load").run([&](Procedure& s) {
        s([&] { StopFlag = 0; });
        s([&] {
            WsaData kept;
            winsock_.WSAStartup(kVersionKept, kept);
        });
        s([&] { vbWSAStartup(); });
        s([&] { vbWSACleanup(); });
        s([&] { Show(); });
        s([&] { Host.setFocus(); });
        s([&] { Host.setSelLength(Host.text().size()); });
        s([&] { SettingsPath = settings_.readPath(); });
        std::array<QString, 3> values;
        s([&] {
            values[0] = GetIniString(kSection, QStringLiteral("hostname"), {}, SettingsPath);
        });
        s([&] { values[1] = GetIniString(kSection, QStringLiteral("times"), {}, SettingsPath); });
        s([&] { values[2] = GetIniString(kSection, QStringLiteral("bytes"), {}, SettingsPath); });
        s([&] { Host.setText(values[0]); });
        s([&] { lblPingTimes.setText(values[1]); });
        s([&] { lblPacketSize.setText(values[2]); });
    });
}

QString FrmPing::GetIniString(const QString& section, const QString& key,
                              const QString& defaultValue, const QString& file) {
    QString result;
    report(u"in GetPrivateProfileString").run([&](Procedure& s) {
        QByteArray buffer;
        uint32_t count = 0;
        s([&] { buffer = QByteArray(kValueBuffer, '\0'); });
        s([&] {
            count = settings_.GetPrivateProfileStringA(
                localeBytes(section).constData(), localeBytes(key).constData(),
                localeBytes(defaultValue).constData(), buffer.data(), kValueBuffer,
                QFile::encodeName(file).constData());
        });
        s([&] { result = decodeLocale(QByteArrayView(buffer).first(count)); });
    });
    return result;
}

void FrmPing::ComdSave_Click() {
    Procedure::skip().run([&](Procedure& s) {
        const QString path = settings_.writePath();
        QString failure;
        s([&] {
            const QString lines = QStringLiteral("[settings]\r\nhostname=") + Host.text() +
                                  QStringLiteral("\r\ntimes=") + lblPingTimes.text() +
                                  QStringLiteral("\r\nbytes=") + lblPacketSize.text() +
                                  QStringLiteral("\r\n");
            const std::optional<QByteArray> content = encodeLocale(lines);
            // Written with substitutes the values would come back changed.
            if (!content) {
                failure = QStringLiteral(u"有的字符无法用本机的字符编码保存");
                return;
            }
            failure = settings_.replace(path, *content);
        });
        s([&] { ui_.yield(); });
        if (s.test([&] { return failure.isEmpty(); })) {
            s([&] {
                ui_.messageBox(QStringLiteral(u"已经保存参数"), MsgBox::OkOnly,
                               QStringLiteral(u"提示"));
            });
            return;
        }
        s([&] {
            ui_.messageBox(QStringLiteral(u"参数没有保存。\n文件：") + path +
                               QStringLiteral(u"\n原因：") + failure,
                           MsgBox::OkOnly | MsgBox::Critical, QStringLiteral(u"提示"));
        });
    });
}
