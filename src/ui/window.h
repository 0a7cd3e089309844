#pragma once

#include <QWidget>

#include <memory>
#include <vector>

class FrmPing;

// The widget tree of the window, built from the layout table and bound to
// the form's controls; the widgets' events go to the form's handlers.
class FormWindow final : public QWidget {
public:
    explicit FormWindow(FrmPing& form);
    ~FormWindow() override;

    // The widget of a control of the layout table, by its name.
    QWidget* control(const char* name) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Views;
    FrmPing& form_;
    std::unique_ptr<Views> views_;
};
