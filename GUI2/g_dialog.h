// Base of the wizard's own modal dialogs: controls named by their ids, an
// initialisation step when the dialog is first shown, centring and raising.
#pragma once
#include <cstdint>

#include <QDialog>

class QAbstractButton;
class QHBoxLayout;
class QLabel;
class QPushButton;

class gui_dialog : public QDialog {
    Q_OBJECT
public:
    // The dialog id becomes the objectName; owner may be null.
    gui_dialog(uint32_t dialog_id, QWidget* owner);
    uint32_t dialog_id() const { return m_dialog_id; }

    // Runs the dialog through the seam; its result.
    int run();

    // A control by its id.
    template <class W>
    W* control(int id) const {
        return findChild<W*>(QString::number(id));
    }

protected:
    // Runs once, when the dialog is about to be shown.
    virtual void on_init() {}
    // Centres the dialog on its owner (or the screen) and brings it to the top.
    void center_and_raise();
    // The buttons OK, Cancel and Help, with those ids, added to the row in
    // that order; OK is the default button.
    struct ok_cancel_help {
        QPushButton* ok;
        QPushButton* cancel;
        QPushButton* help;
    };
    ok_cancel_help add_ok_cancel_help(QHBoxLayout* row, int ok_id, int cancel_id, int help_id);
    void showEvent(QShowEvent* event) override;
    // F1 does what the dialog's Help button (id 9) does.
    void keyPressEvent(QKeyEvent* event) override;

private:
    uint32_t m_dialog_id;
    bool m_initialized = false;
};

// The standard icon of message boxes as a label (critical, warning, ...).
QLabel* gui_icon_label(QWidget* parent, int standard_pixmap);
