// Start-up and the settings file.

#include "form/frm_ping.h"
#include "platform/locale_codec.h"
#include "report/procedure.h"

#include <array>

namespace {

constexpr uint16_t kVersionKept = 0x0202;
constexpr uint32_t kValueBuffer = 1024;

constexpr std::u16string_view kSection = u"settings";

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
        s([&] { Host.setSelLength(static_cast<std::ptrdiff_t>(Host.text().size())); });
        s([&] { SettingsPath = settings_.readPath(); });
        std::array<std::u16string, 3> values;
        s([&] { values[0] = GetIniString(kSection, u"hostname", {}, SettingsPath); });
        s([&] { values[1] = GetIniString(kSection, u"times", {}, SettingsPath); });
        s([&] { values[2] = GetIniString(kSection, u"bytes", {}, SettingsPath); });
        s([&] { Host.setText(values[0]); });
        s([&] { lblPingTimes.setText(values[1]); });
        s([&] { lblPacketSize.setText(values[2]); });
    });
}

std::u16string FrmPing::GetIniString(std::u16string_view section, std::u16string_view key,
                                     std::u16string_view defaultValue, std::u16string_view file) {
    std::u16string result;
    report(u"in GetPrivateProfileString").run([&](Procedure& s) {
        std::string buffer;
        uint32_t count = 0;
        s([&] { buffer = std::string(kValueBuffer, '\0'); });
        s([&] {
            count = settings_.GetPrivateProfileStringA(
                localeBytes(section).c_str(), localeBytes(key).c_str(),
                localeBytes(defaultValue).c_str(), buffer.data(), kValueBuffer,
                localeBytes(file).c_str());
        });
        s([&] { result = decodeLocale(std::string_view(buffer).substr(0, count)); });
    });
    return result;
}

void FrmPing::ComdSave_Click() {
    Procedure::skip().run([&](Procedure& s) {
        const std::u16string path = settings_.writePath();
        std::u16string failure;
        s([&] {
            const std::u16string lines = u"[settings]\r\nhostname=" + Host.text() + u"\r\ntimes=" +
                                         lblPingTimes.text() + u"\r\nbytes=" +
                                         lblPacketSize.text() + u"\r\n";
            const std::optional<std::string> content = encodeLocale(lines);
            // Written with substitutes the values would come back changed.
            if (!content) {
                failure = u"有的字符无法用本机的字符编码保存";
                return;
            }
            failure = settings_.replace(path, *content);
        });
        s([&] { ui_.yield(); });
        if (s.test([&] { return failure.empty(); })) {
            s([&] { ui_.messageBox(u"已经保存参数", MsgBox::OkOnly, u"提示"); });
            return;
        }
        s([&] {
            ui_.messageBox(u"参数没有保存。\n文件：" + path + u"\n原因：" + failure,
                           MsgBox::OkOnly | MsgBox::Critical, u"提示");
        });
    });
}
