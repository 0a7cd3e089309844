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

    // The results box shows new lines at the display's rate; this paints
    // what waits at once, for a thread about to wait for the network.
    void showPendingResults();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showWindow() override { show(); }
    void closeWindow() override { close(); }

    struct Views;
    FrmPing& form_;
    std::unique_ptr<Views> views_;
};
