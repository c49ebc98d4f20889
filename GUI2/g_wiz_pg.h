// The page template: every wizard page is a wizard_page<IDD, buttons, flags>.
// It turns the frame's notifications into a few virtual operations, posts its
// buttons and registers itself with the frame on activation, asks the cancel
// question, and keeps every failure of the page's own code on the page: a
// caught exception is reported and the page stays.
#pragma once
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include <QCheckBox>
#include <QFont>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QString>

#include "g_wiz_base.h"

class QAbstractButton;
class QGridLayout;
class QGroupBox;
class QLabel;
class QPushButton;
class tk_exception;

// Reports a failure caught in window code: a tk_exception through the error
// handler (a friendly text, the error box or the internal-error dialog by
// its level; the user's abort is taken as "stay"), anything else in an error
// box. Never throws.
void gui_report_failure(const tk_exception& e);
void gui_report_failure(const std::exception& e);
// Runs window code (a button handler, a dialog's OK) and reports whatever it
// throws. True when fn returned normally.
bool gui_guarded(const std::function<void()>& fn);

// A check box that does not change its own mark: the page toggles it
// (wizard_page_common::invert_chbox) when it is clicked.
class gui_plain_check_box : public QCheckBox {
public:
    gui_plain_check_box(const QString& text, QWidget* parent);

protected:
    void nextCheckState() override {}
};

// A radio button whose mnemonic checks it at once: a key pressed right after
// the mnemonic (Enter for OK) already sees the new choice. Qt's own button
// checks itself only when its animated click ends.
class gui_radio_button : public QRadioButton {
public:
    gui_radio_button(const QString& text, QWidget* parent);

protected:
    bool event(QEvent* e) override;
};

// A line edit that leaves Alt+key to the dialog's mnemonics instead of
// typing the letter.
class gui_line_edit : public QLineEdit {
public:
    explicit gui_line_edit(QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* e) override;
};

// A multi-line text field that, as gui_line_edit, leaves Alt+key to the
// dialog's mnemonics.
class gui_text_edit : public QPlainTextEdit {
public:
    explicit gui_text_edit(QWidget* parent);

protected:
    void keyPressEvent(QKeyEvent* e) override;
};

// A list box in the manner of the wizard's dialogs: optionally sorted
// (letters compared ignoring case), entries addressed by index.
class gui_list_box : public QListWidget {
public:
    gui_list_box(int id, bool sorted, bool multiple, QWidget* parent);

    // Adds the text (at its sorted place, or at the end); its index.
    int add_string(const QString& text);
    // Entries can carry a mark, shown as this suffix after their text (the
    // suffix is no part of the text).
    void set_mark_suffix(const QString& suffix);
    void set_marked(int index, bool marked);
    bool is_marked(int index) const;
    // False when there is no entry at that index.
    bool delete_string(int index);
    // The entry's text; false when there is no entry at that index.
    bool get_text(int index, QString& text) const;
    QString text_at(int index) const;
    // Index of the entry equal to the text as a whole, ignoring case; -1.
    int find_string_exact(const QString& text) const;
    // Index of the entry equal to the text exactly (case-sensitive); -1.
    int find_exact_case(const QString& text) const;
    // Indexes of the selected entries, ascending.
    QList<int> selected_indexes() const;
    void select_only(int index);
    void clear_sel();
    bool is_sorted() const { return m_sorted; }

private:
    bool m_sorted;
};

// Controls named by their dialog-control ids.
QLabel* gui_make_static(QWidget* parent, int id, const QString& text);
QPushButton* gui_make_button(QWidget* parent, int id, const QString& text);
QRadioButton* gui_make_radio(QWidget* parent, int id, const QString& text);
QLineEdit* gui_make_edit(QWidget* parent, int id);
gui_plain_check_box* gui_make_check(QWidget* parent, int id, const QString& text);
QGroupBox* gui_make_group(QWidget* parent, const QString& title);
// A field and its label (the field's buddy, its mnemonic reaches it) in a
// row of the grid: the label in column 0, the field in column 1.
QLabel* gui_add_field_row(QGridLayout* grid, int row, QWidget* parent, const QString& label, QWidget* field,
                          Qt::Alignment label_alignment = Qt::Alignment());

// The part of the template that does not depend on its arguments.
class wizard_page_common : public wizard_page_base {
    Q_OBJECT
public:
    ~wizard_page_common() override;

    uint32_t buttons() const { return m_buttons; }

    // The frame's notifications, turned into the operations below. None of
    // them lets an exception out.
    int notify_set_active() override;
    bool notify_kill_active() override;
    int notify_wizard_back() override;
    int notify_wizard_next() override;
    bool notify_wizard_finish() override;
    bool notify_query_cancel() override;
    void notify_help() override;
    void notify_timer(uint32_t timer_id) override;

    // The page's own operations; the defaults let the wizard go on.
    // Every activation: true shows the page, false refuses it (skipped, or
    // the previous page stays after keep_previous_page).
    virtual bool page_init() { return true; }
    // Leaving the page for another one.
    virtual bool on_kill_active() { return true; }
    // Finish pressed.
    virtual bool on_wizard_finish() { return true; }
    // Help button or F1.
    virtual void on_help() {}
    // Next / Back: 0 moves on, -1 stays, a dialog id goes to that page.
    virtual int on_next() { return page_go_on; }
    virtual int on_back() { return page_go_on; }
    // Cancel: true lets the wizard close. Asks "Are you sure you want to
    // exit the wizard?" with No as the default.
    virtual bool on_cancel();
    // The frame's progress timer while this page is on show.
    virtual void on_timer(uint32_t timer_id) { (void)timer_id; }

    // Sets the mark of a check box that has none and clears the one it has.
    // A control that is not a check box is an internal error.
    void invert_chbox(int id);
    void enable_ctrl(int id, bool enable);
    void show_ctrl(int id, bool show);
    bool is_checked(int id) const;
    void set_check(int id, bool checked);
    // The control with that id, or null.
    template <class W>
    W* control(int id) const {
        return findChild<W*>(QString::number(id));
    }

    // The title font of the pages without a header ("Segoe UI", 13 points,
    // normal weight), made on first use.
    const QFont& title_font();

protected:
    wizard_page_common(uint32_t dialog_id, uint32_t buttons, uint32_t page_flags, QWidget* parent);
    // Connects a button's click to a handler that runs guarded.
    void on_click(int id, const std::function<void()>& handler);
    // Called by page_init before it returns false: the page is not entered
    // and the page on show stays as it was (no page is skipped to).
    void keep_previous_page() { m_keep_previous = true; }

private:
    uint32_t m_buttons;
    bool m_keep_previous = false;
    QFont m_title_font;
    bool m_has_title_font = false;
};

// IDD: the page's dialog id; Buttons: wizb_* bits posted on activation;
// Flags: psp_* page flags (psp_has_help, psp_hide_header).
template <uint32_t IDD, uint32_t Buttons, uint32_t Flags>
class wizard_page : public wizard_page_common {
public:
    static constexpr uint32_t idd = IDD;
    static constexpr uint32_t page_buttons = Buttons;
    static constexpr uint32_t psp_flags = Flags;

    explicit wizard_page(QWidget* parent = nullptr) : wizard_page_common(IDD, Buttons, Flags, parent) {}
};
