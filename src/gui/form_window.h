#pragma once

#include "form/controls.h"

#include <QWidget>

#include <memory>
#include <string_view>

class FrmPing;

// The widget tree of the window, built from the layout table and bound to
// the form's controls; the widgets' events go to the form's handlers.
class FormWindow final : public QWidget, private WindowView {
public:
    explicit FormWindow(FrmPing& form);
    ~FormWindow() override;

    // The widget of a control of the layout table, by its name.
    QWidget* control(std::string_view name) const;

    // For each frame while the thread waits for the network: paints what
    // changed (the results that wait, a caption set in the last yield). The
    // input, the timers and the queued calls wait for the next yield; a
    // screen reader's questions are answered.
    void paintWhileWaiting();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showWindow() override { show(); }
    void closeWindow() override { close(); }
    void showLabelBackgrounds();
    void answerScreenReader();

    struct Views;
    FrmPing& form_;
    std::unique_ptr<Views> views_;
    bool answeringScreenReader_ = false;
};
