#pragma once

#include "form/blank_text.h"
#include "form/controls.h"
#include "form/layout.h"
#include "platform/icmp_library.h"
#include "platform/settings_store.h"
#include "platform/socket_library.h"
#include "platform/window_system.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class Procedure;

// The one window: its controls, the state its procedures share, and every
// procedure, in a file for each part of the work: run.cpp the run;
// echo.cpp the echo exchange and the reply text; winsock.cpp the socket
// library and the lookup; frm_ping.cpp showing, closing, keys and focus;
// settings.cpp start-up and the settings file.
//
// The state is public on purpose: like the controls, it is the window's,
// and the procedures talk through it.
class FrmPing {
public:
    struct Services {
        WindowSystem& ui;
        IcmpLibrary& icmp;
        SocketLibrary& winsock;
        SettingsStore& settings;
    };

    // The start/stop button's captions during a run and after it.
    static constexpr std::u16string_view kStop = u"Stop";
    static constexpr std::u16string_view kPing = u"Ping";

    // The exit status when the socket library is refused at a check.
    static constexpr int kExitSocketLibraryRefused = 3;

    explicit FrmPing(Services services);
    FrmPing(const FrmPing&) = delete;
    FrmPing& operator=(const FrmPing&) = delete;

    // Controls (the frame and the labels never change, so they have no
    // wrapper here; the widget tree makes them from the layout table).
    CommandButton ComdSave{controlLayout("ComdSave").caption};
    CommandButton cmdClose{controlLayout("cmdClose").caption};
    TextBox Host{controlLayout("Host").caption};
    CommandButton cmdPing{controlLayout("cmdPing").caption};
    TextBox lblPingTimes{controlLayout("lblPingTimes").caption};
    TextBox lblPacketSize{controlLayout("lblPacketSize").caption};
    TextBox txtStatus{controlLayout("txtStatus").caption};

    // The window itself: shown by the load, closed by an unload.
    void bind(WindowView* view) { window_ = view; }
    // The window's widgets are gone: the form and its controls show nothing
    // from here on.
    void unbindViews();
    void Show();
    void Unload();
    // The window system asks before the window closes, for any reason;
    // true when it may close, which it then is.
    bool closeRequested(int16_t reason);
    bool closed() const { return closed_; }

    // Event handlers.
    void Form_Load();
    void Form_QueryUnload(int16_t& cancel, int16_t reason);
    void Form_Resize();
    void cmdPing_Click();
    void cmdClose_Click();
    void ComdSave_Click();
    void Host_KeyDown(int16_t& keyCode, int16_t shift);
    void Host_LostFocus();
    void lblPingTimes_LostFocus();
    void lblPacketSize_LostFocus();

    // Reads one value of the settings file.
    std::u16string GetIniString(std::u16string_view section, std::u16string_view key,
                                std::u16string_view defaultValue, std::u16string_view file);

    // The echo exchange and the reply text.
    void vbIcmpCreateFile();
    void vbIcmpSendEcho();
    void vbIcmpCloseHandle();
    void GetRCode();

    // The socket library and the lookup.
    void vbWSAStartup();
    void vbWSACleanup();
    int32_t HiByte(int16_t value);
    int32_t LoByte(int16_t value);
    void vbGetHostByName();

    // Window state. Truth values are 16-bit: true is -1.
    int16_t StopFlag = 0;
    int16_t NetErrorFlag = 0;
    int16_t StatusShown = 0;
    int16_t ReplyCount = 0;
    int32_t TotalRtt = 0;
    int32_t WsaResult = 0;
    std::u16string WsaMajorText;
    std::u16string WsaMinorText;
    std::u16string NetErrorText;
    HostEnt HostEntry;
    const HostEnt* HostEntryPtr = nullptr;
    const char* const* AddrListPtr = nullptr;
    const char* FirstAddrPtr = nullptr;
    int16_t EchoResult = 0;
    IcmpLibrary::Handle IcmpHandle = 0;
    BlankText EchoData;
    uint32_t DestAddress = 0;  // network order, as in_addr.s_addr
    Ipv6AddressEx DestAddress6;
    AddressFamily DestFamily = AddressFamily::Inet;  // of the last address resolved
    std::u16string ReplyStatusText;
    std::u16string ReplyAddressText;
    std::u16string SettingsPath;

    // One of each for the whole program.
    ::EchoOptions EchoOptions;
    ::EchoReply EchoReply;
    ::EchoReply6 EchoReply6;

private:
    // The click itself; cmdPing_Click adds the start deferred while a run
    // was under way.
    void pingClicked();
    // The stop request: the run under way ends at its next turn test, and
    // the window looks idle at once.
    void requestStop();
    // Report mode for this window's procedures. Abort during a run also takes
    // the run's stop request: a report may come at every echo, the next box
    // a moment after the last, and the window takes no click meanwhile.
    Procedure report(std::u16string_view label);
    // Appends a part and puts the caret after it, so the box shows its end.
    void appendStatus(std::u16string_view part);
    // Every blank removed, also the full-width one; written back even when
    // nothing changed.
    static void removeBlanks(TextBox& box);

    WindowSystem& ui_;
    IcmpLibrary& icmp_;
    SocketLibrary& winsock_;
    SettingsStore& settings_;
    WindowView* window_ = nullptr;
    bool closed_ = false;
    // A run is under way: a start clicked meanwhile waits until it returned,
    // so that no run ever runs nested inside another.
    bool running_ = false;
    bool startDeferred_ = false;
};

// The controls of the layout table that the form keeps, each with its member
// and the handler of its one event besides the keys: a button's click, a
// box's loss of the focus.
struct FormControl {
    std::size_t layout;  // its row of kControls
    TextBox FrmPing::*box = nullptr;
    CommandButton FrmPing::*button = nullptr;
    void (*handler)(FrmPing&) = nullptr;
};

inline constexpr FormControl kFormControls[] = {
    {controlIndex("ComdSave"), nullptr, &FrmPing::ComdSave, [](FrmPing& f) { f.ComdSave_Click(); }},
    {controlIndex("cmdClose"), nullptr, &FrmPing::cmdClose, [](FrmPing& f) { f.cmdClose_Click(); }},
    {controlIndex("Host"), &FrmPing::Host, nullptr, [](FrmPing& f) { f.Host_LostFocus(); }},
    {controlIndex("cmdPing"), nullptr, &FrmPing::cmdPing, [](FrmPing& f) { f.cmdPing_Click(); }},
    {controlIndex("lblPingTimes"), &FrmPing::lblPingTimes, nullptr,
     [](FrmPing& f) { f.lblPingTimes_LostFocus(); }},
    {controlIndex("lblPacketSize"), &FrmPing::lblPacketSize, nullptr,
     [](FrmPing& f) { f.lblPacketSize_LostFocus(); }},
    {controlIndex("txtStatus"), &FrmPing::txtStatus, nullptr, nullptr},
};

// Every control that is neither a frame nor a label is kept once, by a
// member of its kind.
consteval bool formControlsMatchLayout() {
    std::size_t kept = 0;
    for (const ControlLayout& c : kControls) {
        kept += c.kind != ControlKind::Frame && c.kind != ControlKind::Label;
    }
    if (kept != std::size(kFormControls)) {
        return false;
    }
    for (const FormControl& f : kFormControls) {
        const ControlKind kind = kControls[f.layout].kind;
        const bool box = kind == ControlKind::TextBox || kind == ControlKind::MultiLineTextBox;
        if ((f.box != nullptr) != box ||
            (f.button != nullptr) != (kind == ControlKind::CommandButton)) {
            return false;
        }
        for (const FormControl& g : kFormControls) {
            if (&g != &f && g.layout == f.layout) {
                return false;
            }
        }
    }
    return true;
}
static_assert(formControlsMatchLayout());
