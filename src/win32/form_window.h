#pragma once

#include "form/controls.h"

#include <windows.h>

#include <memory>
#include <string_view>

class FrmPing;

// The control of row i of the layout table has the id kFirstControlId + i:
// clear of IDOK and IDCANCEL, which the dialog manager sends for Enter and Esc.
inline constexpr WORD kFirstControlId = 100;

// The window and its controls, built from the layout table at the monitor's
// DPI and bound to the form's controls; the controls' events go to the
// form's handlers. Made hidden; the form's load shows it.
class FormWindow final : private WindowView {
public:
    explicit FormWindow(FrmPing& form);
    ~FormWindow() override;
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    HWND handle() const { return window_; }
    // The control of the layout table by its name.
    HWND control(std::string_view name) const;

    // For each wake while the thread waits for an echo: paints what changed
    // and answers what other programs ask (a screen reader's WM_GETOBJECT,
    // then the controls' own messages). What they send that would run a
    // procedure of the form waits in the queue for the next yield, as input
    // does.
    void paintWhileWaiting();

private:
    void showWindow() override;
    void closeWindow() override;

    // Places the controls and sets their font for dpi.
    void layOut(UINT dpi);
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handleControl(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
    void commanded(WORD id, WORD code);
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK controlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR id, DWORD_PTR self);

    struct Views;
    FrmPing& form_;
    std::unique_ptr<Views> views_;
    HWND window_ = nullptr;
    HWND focus_ = nullptr;  // the control that had the focus when the window lost it
    HFONT font_ = nullptr;
    bool waiting_ = false;  // in paintWhileWaiting
};
