// The wizard frame: our own dialog with a header (title, subtitle, picture),
// a watermark beside the pages without a header, the page area and the
// buttons Back, Next, Finish, Cancel and Help. One per process; code far from
// the window (the conversion thread, the error handler) reaches it through
// the singleton. It owns the progress timer, opens the help file, shows the
// program's message boxes and keeps the error list of the finish page.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <QDialog>
#include <QList>
#include <QPointer>

#include "g_wiz_base.h"
#include "tk_atomic.h"
#include "tk_singl.h"

class QLabel;
class QPushButton;
class QStackedWidget;
class QTimer;
class QWidget;

// The progress timer's id.
inline constexpr uint32_t wizard_timer_id = 0x10000;

// Control ids of the frame.
inline constexpr int idc_cancel = 2;
inline constexpr int idc_help = 9;
inline constexpr int idc_page_area = 12320;
inline constexpr int idc_back = 12323;
inline constexpr int idc_next = 12324;
inline constexpr int idc_finish = 12325;
inline constexpr int idc_button_line = 12326;
inline constexpr int idc_header_line = 12327;
inline constexpr int idc_header = 12328;
inline constexpr int idc_header_title = 12329;
inline constexpr int idc_header_subtitle = 12330;
// The pictures carry their resource ids: watermark 311, header 312.

class wizard_shell : public QDialog, public tk_singleton<wizard_shell> {
    Q_OBJECT
public:
    // Ids of 0 mean no icon, no watermark, no header picture.
    wizard_shell(const std::wstring& title, uint32_t icon_id, uint32_t watermark_id, uint32_t header_id,
                 QWidget* parent = nullptr);
    ~wizard_shell() override;

    // Pages, in order. The frame does not own them.
    void add_page(wizard_page_base* page);
    int page_count() const { return static_cast<int>(m_pages.size()); }
    wizard_page_base* page_at(int index) const;
    int find_page(uint32_t dialog_id) const;
    // The page on show; null before the first activation and while the
    // frame moves from one page to another.
    wizard_page_base* active_page() const;
    int active_index() const { return m_active; }

    // Runs the wizard modally: 1 after Finish, 0 after Cancel.
    int run();

    // For the pages.
    // On the first page activation: caption, icon, centring.
    void initialize_if();
    static bool is_initialized();
    // Back 1, Next 2, Finish 4, disabled Finish 8; applied at once.
    void set_wizard_buttons(uint32_t buttons);
    uint32_t wizard_buttons() const { return m_buttons; }
    // The page that was activated last (each page stores itself).
    void set_current_page(QWidget* page) { m_current_page = page; }
    QWidget* current_page() const { return m_current_page; }
    // Moves to the page with that dialog id as if Next led there (the page
    // on show may refuse to be left). False when nothing changed.
    bool set_cur_sel_by_id(uint32_t dialog_id);
    // Enables or disables one of the frame's buttons (ids above).
    void enable_button(int id, bool enable);
    QPushButton* button(int id) const;
    // Does what a click on that button does.
    void press_button(int id);

    // The progress timer: any thread may start it; it ticks on the GUI thread.
    // A second set_timer without kill_timer is an internal error.
    void set_timer(uint32_t period_ms);
    void kill_timer();
    bool is_timer_running() const { return m_timer_running.load(); }
    // A timer message: the progress timer's id goes to the page on show,
    // others are dropped. True when forwarded.
    bool timer_message(uint32_t timer_id);
    // F1 and the Help button: the page on show is asked for its help.
    void help_request();

    // The help file: the program's path with the extension ".html".
    static std::wstring help_file_path();
    static void display_help(uint32_t topic);
    static void display_help();

    // Message boxes, from any thread; captions start with the title once the
    // wizard is initialized.
    static void error(const std::wstring& text);
    static void error(const std::string& text);
    static void message(const std::wstring& text);
    // True when the user chose Yes; extra_flags adds e.g. mb_defbutton2.
    static bool question(const std::wstring& text, uint32_t extra_flags = 0);
    // title + " " + word once the wizard is initialized, else the word alone.
    static std::wstring caption_for(const std::wstring& word);
    // The frame's window when initialized, else null: the owner of boxes.
    static QWidget* box_owner();

    const std::wstring& title() const { return m_title; }
    uint32_t icon_id() const { return m_icon_id; }

    // The error texts of a run, for the finish page. Appends only while the
    // list is shorter than limit; true when appended.
    bool append_error(const std::string& text, std::size_t limit);
    std::vector<std::string> error_list() const { return m_errors.get(); }
    // How many texts append_error left out because the list was full.
    std::size_t errors_left_out() const { return m_errors_left_out.load(); }
    std::size_t error_count() const;
    void clear_errors();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // Escape and the close box ask the page, as Cancel does.
    void reject() override;

private:
    void build(uint32_t watermark_id, uint32_t header_id);
    bool select_page(int index, int direction);
    void show_page(int index);
    void on_back();
    void on_next();
    void on_finish();
    void on_cancel();

    uint32_t m_icon_id;
    std::wstring m_title;
    std::atomic<bool> m_timer_running{false};
    QWidget* m_current_page = nullptr;
    std::atomic<bool> m_initialized{false};
    tk_guarded<std::vector<std::string>> m_errors;
    std::atomic<std::size_t> m_errors_left_out{0};

    QList<QPointer<wizard_page_base>> m_pages;
    int m_active = -1;
    bool m_moving = false;
    uint32_t m_buttons = 0;

    QWidget* m_header = nullptr;
    QWidget* m_header_line = nullptr;
    QLabel* m_header_title = nullptr;
    QLabel* m_header_subtitle = nullptr;
    QLabel* m_header_picture = nullptr;
    QLabel* m_watermark = nullptr;
    QWidget* m_body = nullptr;
    QStackedWidget* m_stack = nullptr;
    QPushButton* m_back = nullptr;
    QPushButton* m_next = nullptr;
    QPushButton* m_finish = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_help = nullptr;
    QTimer* m_timer = nullptr;
};
