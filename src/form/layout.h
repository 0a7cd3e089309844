#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <utility>

// The window's fixed layout, in twips (15 to a pixel at 96 dots per inch).

inline constexpr int kTwipsPerPixel = 15;

inline constexpr char16_t kFormCaption[] = u"Sondrel For Tamor  Ver 1.1 beta";
inline constexpr int kClientWidth = 6240;
inline constexpr int kClientHeight = 3720;
inline constexpr int kClientLeft = 7065;
inline constexpr int kClientTop = 3885;

// The program's short name, the title of its plain message boxes.
inline constexpr char16_t kAppTitle[] = u"Sondrel Ping";

inline constexpr char16_t kDefaultHost[] = u"www.example.com";

enum class ControlKind { Frame, CommandButton, TextBox, MultiLineTextBox, Label };

struct ControlLayout {
    const char* name;
    ControlKind kind;
    const char* container;  // "" for the window itself
    const char16_t* caption;
    int left;
    int top;
    int width;
    int height;
    int tabIndex;
};

// In the order in which the window holds them.
inline constexpr ControlLayout kControls[] = {
    {"Frame1", ControlKind::Frame, "", u"", 120, 0, 6015, 1455, 6},
    {"ComdSave", ControlKind::CommandButton, "Frame1", u" 保存设置", 2760, 840, 975, 375, 10},
    {"cmdClose", ControlKind::CommandButton, "Frame1", u"关闭", 1560, 840, 975, 375, 5},
    {"Host", ControlKind::TextBox, "Frame1", kDefaultHost, 240, 450, 3495, 285, 1},
    {"cmdPing", ControlKind::CommandButton, "Frame1", u"开始", 240, 840, 975, 375, 4},
    {"lblPingTimes", ControlKind::TextBox, "Frame1", u"4", 4560, 480, 1335, 270, 2},
    {"lblPacketSize", ControlKind::TextBox, "Frame1", u"32", 4560, 960, 1335, 270, 3},
    {"lblPacket", ControlKind::Label, "Frame1", u"包大小:", 3840, 960, 630, 180, 9},
    {"lblPings", ControlKind::Label, "Frame1", u"次数:", 3840, 480, 450, 180, 8},
    {"lblIpHost", ControlKind::Label, "Frame1", u"请输入IP地址或网址:", 240, 180, 1710, 180, 7},
    {"txtStatus", ControlKind::MultiLineTextBox, "", u"", 120, 1440, 6015, 2175, 0},
};

constexpr std::size_t controlIndex(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kControls); ++i) {
        if (name == kControls[i].name) {
            return i;
        }
    }
    throw "no such control";
}

consteval const ControlLayout& controlLayout(std::string_view name) {
    return kControls[controlIndex(name)];
}

// Each input box and the label that names it.
inline constexpr std::pair<std::string_view, std::string_view> kLabelled[] = {
    {"lblIpHost", "Host"},
    {"lblPings", "lblPingTimes"},
    {"lblPacket", "lblPacketSize"},
};

// The controls by tab index, each label just before the box it names: the
// order in which Tab walks them and a screen reader lists them.
constexpr std::array<std::size_t, std::size(kControls)> controlOrder() {
    std::array<std::size_t, std::size(kControls)> byTab{};
    for (std::size_t i = 0; i < byTab.size(); ++i) {
        byTab[i] = i;
    }
    std::sort(byTab.begin(), byTab.end(), [](std::size_t a, std::size_t b) {
        return kControls[a].tabIndex < kControls[b].tabIndex;
    });
    std::array<std::size_t, std::size(kControls)> order{};
    std::size_t next = 0;
    for (const std::size_t i : byTab) {
        if (kControls[i].kind == ControlKind::Label) {
            continue;
        }
        for (const auto& [label, box] : kLabelled) {
            if (box == kControls[i].name) {
                order[next++] = controlIndex(label);
            }
        }
        order[next++] = i;
    }
    return order;
}
