#include "win32/form_window.h"

#include "form/frm_ping.h"
#include "form/layout.h"
#include "platform/system_text_win32.h"
#include "win32/win32_window_system.h"

#include <commctrl.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kWindowClass[] = L"SondrelPingWindow";
constexpr wchar_t kFrameClass[] = L"SondrelPingFrame";
// Fixed in size: no sizing border, nothing to maximize.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kFontPoints = 9;
constexpr UINT_PTR kSubclassId = 1;
constexpr UINT_PTR kFrameTimer = 1;
// Every line of the longest run: 32,767 replies of at most 128 characters.
constexpr WPARAM kResultsLimit = 32767 * 128;
// The reasons a close is asked for.
constexpr int16_t kFromUser = 0;
constexpr int16_t kFromWindows = 2;

int scaled(int twips, UINT dpi) {
    return MulDiv(twips, static_cast<int>(dpi), 1440);
}

WORD idOf(std::size_t layout) {
    return static_cast<WORD>(kFirstControlId + layout);
}

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

class EditView final : public TextBoxView {
public:
    explicit EditView(HWND edit) : edit_(edit) {}
    void showText(const std::u16string& text) override {
        quiet_ = true;
        SetWindowTextW(edit_, wideText(text));
        quiet_ = false;
    }
    void showAppended(std::u16string_view part) override {
        const std::u16string text(part);
        const auto end = static_cast<WPARAM>(GetWindowTextLengthW(edit_));
        quiet_ = true;
        SendMessageW(edit_, EM_SETSEL, end, static_cast<LPARAM>(end));
        SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wideText(text)));
        quiet_ = false;
    }
    void showSelection(const std::u16string&, std::ptrdiff_t start,
                       std::ptrdiff_t length) override {
        SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(start),
                     static_cast<LPARAM>(start + length));
        SendMessageW(edit_, EM_SCROLLCARET, 0, 0);
    }
    void takeFocus() override { SetFocus(edit_); }

    // The text changed by the user, not by the form.
    bool userChange() const { return !quiet_; }
    std::u16string text() const {
        std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit_)) + 1, L'\0');
        text.resize(
            static_cast<size_t>(GetWindowTextW(edit_, text.data(), static_cast<int>(text.size()))));
        return programText(text);
    }

private:
    HWND edit_;
    bool quiet_ = false;
};

// The results box. Its lines come out together, a frame's at a time, and
// the caret follows them there: one update of the box's text, caret and
// scroll bars a frame, not a line. An update that costs more than a fifth
// of a frame (Wine draws the scroll bars in 20 ms and more) spaces the next
// ones to five times its cost, so that the box takes at most a sixth of a
// run. The window's frame timer, and any change of a button, bring out the
// lines that no later one does; the timer runs between echoes, never while
// one is in flight (Wine's box crashed when changed then).
class ResultsView final : public TextBoxView {
public:
    using Clock = std::chrono::steady_clock;

    ResultsView(HWND edit, HWND window) : edit_(edit), window_(window) {}
    void showText(const std::u16string& text) override {
        const auto start = Clock::now();
        pending_.clear();
        SetWindowTextW(edit_, wideText(text));
        updated(start);
    }
    void showAppended(std::u16string_view part) override {
        pending_.append(part);
        const auto now = Clock::now();
        if (now >= due_) {
            showPending();
        } else if (!timer_) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(due_ - now);
            timer_ = SetTimer(window_, kFrameTimer, static_cast<UINT>(left.count()), nullptr) != 0;
        }
    }
    void showSelection(const std::u16string& text, std::ptrdiff_t start,
                       std::ptrdiff_t length) override {
        // The end, where the waiting lines leave the caret.
        if (start == std::ssize(text) && !pending_.empty()) {
            return;
        }
        showPending();
        DWORD from = 0, to = 0;
        SendMessageW(edit_, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                     reinterpret_cast<LPARAM>(&to));
        if (from != start || to != start + length) {
            SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(start),
                         static_cast<LPARAM>(start + length));
            SendMessageW(edit_, EM_SCROLLCARET, 0, 0);
        }
    }
    void takeFocus() override { SetFocus(edit_); }

    // Shows the waiting lines now, painted.
    void showPending() {
        if (timer_) {
            KillTimer(window_, kFrameTimer);
            timer_ = false;
        }
        if (pending_.empty()) {
            return;
        }
        const auto start = Clock::now();
        const auto end = static_cast<WPARAM>(GetWindowTextLengthW(edit_));
        SendMessageW(edit_, EM_SETSEL, end, static_cast<LPARAM>(end));
        SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(wideText(pending_)));
        pending_.clear();
        updated(start);
    }

private:
    // Painted now; the next update comes a frame later, or five times this
    // one's cost.
    void updated(Clock::time_point start) {
        UpdateWindow(edit_);
        const auto now = Clock::now();
        due_ = now + std::max<Clock::duration>(kFrame, 5 * (now - start));
    }

    HWND edit_;
    HWND window_;             // the frame timer's
    std::u16string pending_;  // not shown yet
    Clock::time_point due_;   // of the next update
    bool timer_ = false;
};

// A button. The results box's waiting lines come out first: the end of a
// run shows with its last lines.
class PushButtonView final : public ButtonView {
public:
    PushButtonView(HWND button, const std::unique_ptr<ResultsView>& results)
        : button_(button), results_(results) {}
    void showCaption(const std::u16string& caption) override {
        showResults();
        SetWindowTextW(button_, wideText(caption));
    }
    void showEnabled(bool enabled) override {
        showResults();
        EnableWindow(button_, enabled);
    }

private:
    void showResults() const {
        if (results_) {
            results_->showPending();
        }
    }

    HWND button_;
    const std::unique_ptr<ResultsView>& results_;
};

// The frame: an etched border around its controls, whose messages go on to
// the window.
LRESULT CALLBACK frameProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORBTN:
            return SendMessageW(GetParent(frame), message, wParam, lParam);
        case WM_PAINT: {
            PAINTSTRUCT paint;
            const HDC dc = BeginPaint(frame, &paint);
            RECT area;
            GetClientRect(frame, &area);
            DrawEdge(dc, &area, EDGE_ETCHED, BF_RECT);
            EndPaint(frame, &paint);
            return 0;
        }
        default:
            return DefWindowProcW(frame, message, wParam, lParam);
    }
}

void registerClasses(HINSTANCE instance, WNDPROC windowProc) {
    const UINT dpi = GetDpiForSystem();
    WNDCLASSEXW window{};
    window.cbSize = sizeof window;
    window.lpfnWndProc = windowProc;
    window.hInstance = instance;
    window.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                 GetSystemMetricsForDpi(SM_CXICON, dpi),
                                                 GetSystemMetricsForDpi(SM_CYICON, dpi), 0));
    window.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                   GetSystemMetricsForDpi(SM_CXSMICON, dpi),
                                                   GetSystemMetricsForDpi(SM_CYSMICON, dpi), 0));
    window.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    window.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    window.lpszClassName = kWindowClass;
    RegisterClassExW(&window);
    WNDCLASSEXW frame = window;
    frame.lpfnWndProc = frameProc;
    frame.hIcon = frame.hIconSm = nullptr;
    frame.lpszClassName = kFrameClass;
    RegisterClassExW(&frame);
}

HWND makeControl(const ControlLayout& c, HWND parent, std::size_t layout) {
    const wchar_t* kind = L"STATIC";
    DWORD style = WS_CHILD | WS_VISIBLE;
    DWORD extended = 0;
    switch (c.kind) {
        case ControlKind::Frame:
            kind = kFrameClass;
            extended = WS_EX_CONTROLPARENT;  // Tab walks into it
            break;
        case ControlKind::CommandButton:
            kind = L"BUTTON";
            style |= WS_TABSTOP |
                     (std::string_view(c.name) == "cmdPing" ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
            break;
        case ControlKind::TextBox:
            kind = L"EDIT";
            style |= WS_TABSTOP | ES_AUTOHSCROLL;
            extended = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::MultiLineTextBox:
            kind = L"EDIT";
            style |= WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL |
                     WS_HSCROLL | WS_VSCROLL;
            extended = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::Label:
            style |= SS_LEFT | SS_NOPREFIX;
            break;
    }
    return CreateWindowExW(extended, kind, wide(c.caption), style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<UINT_PTR>(idOf(layout))),
                           GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

struct FormWindow::Views {
    std::array<HWND, std::size(kControls)> controls{};
    std::array<std::unique_ptr<EditView>, std::size(kControls)> boxes;  // the input boxes
    std::unique_ptr<ResultsView> results;
    std::vector<std::unique_ptr<ButtonView>> buttons;
};

FormWindow::FormWindow(FrmPing& form) : form_(form), views_(std::make_unique<Views>()) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    registerClasses(instance, windowProc);
    window_ = CreateWindowExW(
        WS_EX_CONTROLPARENT, kWindowClass, wide(kFormCaption), kWindowStyle,
        scaled(kClientLeft, USER_DEFAULT_SCREEN_DPI), scaled(kClientTop, USER_DEFAULT_SCREEN_DPI),
        scaled(kClientWidth, USER_DEFAULT_SCREEN_DPI),
        scaled(kClientHeight, USER_DEFAULT_SCREEN_DPI), nullptr, nullptr, instance, this);
    auto& controls = views_->controls;
    for (std::size_t i = 0; i < std::size(kControls); ++i) {
        const ControlLayout& c = kControls[i];
        const HWND parent = *c.container == '\0' ? window_ : controls[controlIndex(c.container)];
        controls[i] = makeControl(c, parent, i);
    }
    for (const std::size_t i : controlOrder()) {
        SetWindowPos(controls[i], HWND_BOTTOM, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
    SendMessageW(control("txtStatus"), EM_SETLIMITTEXT, kResultsLimit, 0);

    // The client area where the layout table puts it, at the DPI of the monitor there.
    const UINT dpi = GetDpiForWindow(window_);
    RECT frame{scaled(kClientLeft, dpi), scaled(kClientTop, dpi),
               scaled(kClientLeft + kClientWidth, dpi), scaled(kClientTop + kClientHeight, dpi)};
    AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, WS_EX_CONTROLPARENT, dpi);
    SetWindowPos(window_, nullptr, frame.left, frame.top, frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
    layOut(dpi);

    for (const FormControl& f : kFormControls) {
        const HWND handle = controls[f.layout];
        if (f.button != nullptr) {
            views_->buttons.push_back(std::make_unique<PushButtonView>(handle, views_->results));
            (form_.*f.button).bind(views_->buttons.back().get());
        } else if (kControls[f.layout].kind == ControlKind::MultiLineTextBox) {
            views_->results = std::make_unique<ResultsView>(handle, window_);
            SetWindowSubclass(handle, controlProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
            (form_.*f.box).bind(views_->results.get());
        } else {
            views_->boxes[f.layout] = std::make_unique<EditView>(handle);
            SetWindowSubclass(handle, controlProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this));
            (form_.*f.box).bind(views_->boxes[f.layout].get());
        }
    }
    form_.bind(this);
}

FormWindow::~FormWindow() {
    if (IsWindow(window_)) {
        DestroyWindow(window_);
    }
    if (font_ != nullptr) {
        DeleteObject(font_);
    }
}

HWND FormWindow::control(std::string_view name) const {
    return views_->controls[controlIndex(name)];
}

void FormWindow::showWindow() {
    ShowWindow(window_, SW_SHOWDEFAULT);  // as the shortcut or the starting program asks
    UpdateWindow(window_);
}

void FormWindow::closeWindow() {
    SendMessageW(window_, WM_CLOSE, 0, 0);
}

void FormWindow::layOut(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi);
    // The system's message font (and the fonts it links for Chinese) at 9 points.
    LOGFONTW face = metrics.lfMessageFont;
    face.lfHeight = -MulDiv(kFontPoints, static_cast<int>(dpi), 72);
    const HFONT font = CreateFontIndirectW(&face);
    const HDC dc = GetDC(window_);
    const HGDIOBJ before = SelectObject(dc, font);
    TEXTMETRICW text{};
    GetTextMetricsW(dc, &text);
    for (std::size_t i = 0; i < std::size(kControls); ++i) {
        const ControlLayout& c = kControls[i];
        int width = scaled(c.width, dpi);
        int height = scaled(c.height, dpi);
        if (c.kind == ControlKind::Label) {
            // Sized to the caption in the font at hand, from the same corner.
            SIZE extent{};
            const std::u16string caption(c.caption);
            GetTextExtentPoint32W(dc, wideText(caption), static_cast<int>(caption.size()), &extent);
            width = std::max<int>(width, extent.cx);
            height = std::max<int>(height, text.tmHeight);
        }
        SetWindowPos(views_->controls[i], nullptr, scaled(c.left, dpi), scaled(c.top, dpi), width,
                     height, SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(views_->controls[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    SelectObject(dc, before);
    ReleaseDC(window_, dc);
    if (font_ != nullptr) {
        DeleteObject(font_);
    }
    font_ = font;
}

LRESULT CALLBACK FormWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self != nullptr && self->window_ == window
               ? self->handleMessage(message, wParam, lParam)
               : DefWindowProcW(window, message, wParam, lParam);
}

void FormWindow::paintWhileWaiting() {
    waiting_ = true;
    dispatchWhileWaiting();
    waiting_ = false;
}

LRESULT FormWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    // A click sent as BM_CLICK arrives here; the end of the session is
    // refused, as during any run.
    if (waiting_ && (message == WM_COMMAND || message == WM_CLOSE)) {
        PostMessageW(window_, message, wParam, lParam);
        return 0;
    }
    if (waiting_ && message == WM_QUERYENDSESSION) {
        return FALSE;
    }
    switch (message) {
        case WM_COMMAND:
            commanded(LOWORD(wParam), HIWORD(wParam));
            return 0;
        case WM_TIMER:
            if (wParam == kFrameTimer) {
                views_->results->showPending();
                return 0;
            }
            break;
        case DM_GETDEFID: {
            // Enter is cmdPing's unless a button has the focus, however it got
            // it: the dialog manager marks only one reached by Tab.
            const HWND focus = GetFocus();
            const bool button = IsChild(window_, focus) &&
                                (SendMessageW(focus, WM_GETDLGCODE, 0, 0) & DLGC_UNDEFPUSHBUTTON);
            return MAKELRESULT(button ? GetDlgCtrlID(focus) : idOf(controlIndex("cmdPing")),
                               DC_HASDEFID);
        }
        case WM_CTLCOLORSTATIC: {
            const auto layout = static_cast<std::size_t>(
                GetDlgCtrlID(reinterpret_cast<HWND>(lParam)) - kFirstControlId);
            if (layout < std::size(kControls) && kControls[layout].kind == ControlKind::Label) {
                SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_INACTIVEBORDER));
                return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_INACTIVEBORDER));
            }
            break;
        }
        case WM_ACTIVATE:
            // The focus comes back to the control that had it.
            if (LOWORD(wParam) == WA_INACTIVE) {
                focus_ = GetFocus();
            } else if (focus_ != nullptr && IsChild(window_, focus_)) {
                SetFocus(focus_);
                return 0;
            }
            break;
        case WM_SIZE:
            form_.Form_Resize();
            break;
        case WM_DPICHANGED: {
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            layOut(HIWORD(wParam));
            return 0;
        }
        case WM_CLOSE:
            if (form_.closeRequested(kFromUser)) {
                DestroyWindow(window_);
            }
            return 0;
        case WM_QUERYENDSESSION:
            return form_.closeRequested(kFromWindows) ? TRUE : FALSE;
        case WM_ENDSESSION:
            if (form_.closed()) {
                DestroyWindow(window_);
            }
            return 0;
        case WM_DESTROY:
            form_.unbindViews();  // the controls outlive the window
            PostQuitMessage(0);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

void FormWindow::commanded(WORD id, WORD code) {
    // IDOK and IDCANCEL (Enter with no default button, Esc) do nothing.
    if (id < kFirstControlId || id >= kFirstControlId + std::size(kControls)) {
        return;
    }
    const std::size_t layout = id - kFirstControlId;
    for (const FormControl& f : kFormControls) {
        if (f.layout != layout) {
            continue;
        }
        if (f.button != nullptr && code == BN_CLICKED) {
            f.handler(form_);
        } else if (f.box != nullptr && code == EN_CHANGE && views_->boxes[layout] != nullptr &&
                   views_->boxes[layout]->userChange()) {
            (form_.*f.box).edited(views_->boxes[layout]->text());
        }
    }
}

LRESULT CALLBACK FormWindow::controlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                         UINT_PTR, DWORD_PTR self) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(control, controlProc, kSubclassId);
        return DefSubclassProc(control, message, wParam, lParam);
    }
    return reinterpret_cast<FormWindow*>(self)->handleControl(control, message, wParam, lParam);
}

LRESULT FormWindow::handleControl(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    const bool host = box == control("Host");
    const bool enter = wParam == VK_RETURN;
    switch (message) {
        case WM_GETDLGCODE: {
            const LRESULT code = DefSubclassProc(box, message, wParam, lParam);
            // Tab, Enter and Esc in the results box are the window's.
            if (box == control("txtStatus")) {
                return code & ~DLGC_WANTALLKEYS;
            }
            // Enter in the host box is its own: Host_KeyDown presses the button.
            const auto* key = reinterpret_cast<const MSG*>(lParam);
            return host && key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_RETURN
                       ? code | DLGC_WANTMESSAGE
                       : code;
        }
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            if (host && waiting_) {
                PostMessageW(box, message, wParam, lParam);
                return 0;
            }
            if (host) {
                int16_t keyCode = static_cast<int16_t>(wParam & 0xFF);
                const auto shift =
                    static_cast<int16_t>((GetKeyState(VK_SHIFT) < 0 ? ShiftState::Shift : 0) |
                                         (GetKeyState(VK_CONTROL) < 0 ? ShiftState::Ctrl : 0) |
                                         (GetKeyState(VK_MENU) < 0 ? ShiftState::Alt : 0));
                form_.Host_KeyDown(keyCode, shift);
                if (enter) {
                    return 0;
                }
            }
            break;
        case WM_CHAR:
        case WM_SYSCHAR:
            // The line break that Enter types: a one-line box would beep.
            if (host && (wParam == L'\r' || wParam == L'\n')) {
                return 0;
            }
            break;
        case WM_KILLFOCUS: {
            const LRESULT result = DefSubclassProc(box, message, wParam, lParam);
            // Focus that leaves with the whole window is not lost within it.
            const auto to = reinterpret_cast<HWND>(wParam);
            for (const FormControl& f : kFormControls) {
                if (views_->controls[f.layout] == box && f.handler != nullptr && to != nullptr &&
                    IsChild(window_, to)) {
                    f.handler(form_);
                }
            }
            return result;
        }
        default:
            break;
    }
    return DefSubclassProc(box, message, wParam, lParam);
}
