#include "g_wiz_sh.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "g_busy.h"
#include "g_res.h"
#include "g_seam.h"
#include "g_text.h"
#include "g_thread.h"
#include "tk_excep.h"
#include "tk_files.h"
#include "tk_fname.h"
#include "tk_log.h"
#include "tk_module.h"
#include "tk_utils.h"

namespace {

constexpr const char* source_file = "g_wiz_sh";

QString id_name(int id) { return QString::number(id); }

QFrame* make_line(QWidget* parent, int id) {
    auto* line = new QFrame(parent);
    line->setObjectName(id_name(id));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QPushButton* make_button(QWidget* parent, int id, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(id_name(id));
    b->setAutoDefault(false);
    return b;
}

}  // namespace

wizard_shell::wizard_shell(const std::wstring& title, uint32_t icon_id, uint32_t watermark_id, uint32_t header_id,
                           QWidget* parent)
    : QDialog(parent), m_icon_id(icon_id), m_title(title) {
    if (tk_log_wants(1)) tk_wlog(1, L"wizard_shell::ctor(%s)", title.c_str());
    build(watermark_id, header_id);
}

wizard_shell::~wizard_shell() {
    tk_log(1, "wizard_shell::dtor");
    m_initialized = false;
    if (m_timer_running) {
        m_timer->stop();
        m_timer_running = false;
    }
    // The pages belong to their maker: they leave the frame, they are not
    // destroyed with it.
    for (auto& p : m_pages)
        if (p) p->setParent(nullptr);
    m_pages.clear();
}

void wizard_shell::build(uint32_t watermark_id, uint32_t header_id) {
    setObjectName(QStringLiteral("wizard"));
    setModal(true);
    setMinimumSize(620, 460);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    // Header band: title and subtitle on white, the picture on the right.
    m_header = new QWidget(this);
    m_header->setObjectName(id_name(idc_header));
    m_header->setAutoFillBackground(true);
    QPalette white = m_header->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    m_header->setPalette(white);
    auto* header_row = new QHBoxLayout(m_header);
    header_row->setContentsMargins(22, 10, 10, 10);
    auto* header_texts = new QVBoxLayout();
    m_header_title = new QLabel(m_header);
    m_header_title->setObjectName(id_name(idc_header_title));
    QFont bold = m_header_title->font();
    bold.setBold(true);
    m_header_title->setFont(bold);
    m_header_subtitle = new QLabel(m_header);
    m_header_subtitle->setObjectName(id_name(idc_header_subtitle));
    m_header_subtitle->setIndent(16);
    m_header_subtitle->setWordWrap(true);
    header_texts->addWidget(m_header_title);
    header_texts->addWidget(m_header_subtitle);
    header_texts->addStretch(1);
    header_row->addLayout(header_texts, 1);
    m_header_picture = new QLabel(m_header);
    m_header_picture->setObjectName(id_name(static_cast<int>(header_id)));
    m_header_picture->setPixmap(gui_picture(header_id));
    m_header_picture->setVisible(header_id != 0);
    header_row->addWidget(m_header_picture, 0, Qt::AlignRight | Qt::AlignVCenter);
    root->addWidget(m_header);
    m_header_line = make_line(this, idc_header_line);
    root->addWidget(m_header_line);

    // Body: the watermark beside pages without a header, then the pages.
    m_body = new QWidget(this);
    m_body->setObjectName(QStringLiteral("body"));
    auto* body_row = new QHBoxLayout(m_body);
    body_row->setContentsMargins(0, 0, 0, 0);
    body_row->setSpacing(0);
    m_watermark = new QLabel(m_body);
    m_watermark->setObjectName(id_name(static_cast<int>(watermark_id)));
    m_watermark->setPixmap(gui_picture(watermark_id));
    m_watermark->setScaledContents(true);
    m_watermark->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    m_watermark->setFixedWidth(m_watermark->pixmap().isNull() ? 0 : m_watermark->pixmap().width());
    m_watermark->hide();
    body_row->addWidget(m_watermark);
    m_stack = new QStackedWidget(m_body);
    m_stack->setObjectName(id_name(idc_page_area));
    m_stack->setContentsMargins(16, 12, 16, 12);
    body_row->addWidget(m_stack, 1);
    root->addWidget(m_body, 1);
    root->addWidget(make_line(this, idc_button_line));

    // Buttons: Back and Next (or Finish) together, then Cancel and Help.
    auto* buttons = new QHBoxLayout();
    buttons->setContentsMargins(10, 10, 10, 10);
    buttons->addStretch(1);
    m_back = make_button(this, idc_back, QStringLiteral("< &Back"));
    m_next = make_button(this, idc_next, QStringLiteral("&Next >"));
    m_finish = make_button(this, idc_finish, QStringLiteral("&Finish"));
    m_cancel = make_button(this, idc_cancel, QStringLiteral("Cancel"));
    m_help = make_button(this, idc_help, QStringLiteral("&Help"));
    buttons->addWidget(m_back);
    buttons->setSpacing(0);
    buttons->addWidget(m_next);
    buttons->addWidget(m_finish);
    buttons->addSpacing(10);
    buttons->addWidget(m_cancel);
    buttons->addSpacing(6);
    buttons->addWidget(m_help);
    root->addLayout(buttons);
    m_finish->hide();
    m_back->setEnabled(false);
    m_next->setEnabled(false);
    m_help->setEnabled(false);
    connect(m_back, &QPushButton::clicked, this, [this] { on_back(); });
    connect(m_next, &QPushButton::clicked, this, [this] { on_next(); });
    connect(m_finish, &QPushButton::clicked, this, [this] { on_finish(); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { on_cancel(); });
    connect(m_help, &QPushButton::clicked, this, [this] { help_request(); });

    m_timer = new QTimer(this);
    m_timer->setObjectName(QString::number(wizard_timer_id));
    connect(m_timer, &QTimer::timeout, this, [this] { timer_message(wizard_timer_id); });
}

// Pages.

void wizard_shell::add_page(wizard_page_base* page) {
    if (!page) throw tk_mail_assertion(source_file, 120);
    tk_log(2, "wizard_shell::add_page(%u)", page->dialog_id());
    m_pages.push_back(page);
    m_stack->addWidget(page);
}

wizard_page_base* wizard_shell::page_at(int index) const {
    if (index < 0 || index >= m_pages.size()) return nullptr;
    return m_pages[index];
}

int wizard_shell::find_page(uint32_t dialog_id) const {
    for (int i = 0; i < m_pages.size(); ++i)
        if (m_pages[i] && m_pages[i]->dialog_id() == dialog_id) return i;
    return -1;
}

wizard_page_base* wizard_shell::active_page() const { return page_at(m_active); }

int wizard_shell::run() {
    tk_log(2, "wizard_shell::run");
    return exec();
}

void wizard_shell::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (m_active < 0 && !m_moving && !m_pages.isEmpty()) select_page(0, 1);
}

// Makes the page at index the one on show. A page that refuses activation is
// skipped in the direction of travel; a page may name another page instead.
// When no page of that direction takes it, the page that was on show stays
// and is activated again, so that its buttons and its place as the current
// page are its own again. A page that answers page_keep_previous ends the
// move: the page on show stays as it was, without a new set-up.
bool wizard_shell::select_page(int index, int direction) {
    if (index < 0 || index >= m_pages.size()) return false;
    const int old = m_active;
    const uint32_t old_buttons = m_buttons;
    m_active = -1;
    m_moving = true;
    int target = -1;
    int last_tried = -1;
    bool keep_old = false;
    for (int tries = 0; tries <= 2 * m_pages.size() && index >= 0 && index < m_pages.size(); ++tries) {
        wizard_page_base* page = m_pages[index];
        if (!page) {
            index += direction;
            continue;
        }
        last_tried = index;
        int answer = page->notify_set_active();
        if (answer == page_go_on) {
            target = index;
            break;
        }
        if (answer == page_refuse) {
            index += direction;
            continue;
        }
        if (answer == page_keep_previous) {
            keep_old = true;
            break;
        }
        index = find_page(static_cast<uint32_t>(answer));
        if (index < 0) {
            tk_log(2, "wizard_shell: no page with id %d", answer);
            break;
        }
    }
    m_moving = false;
    if (target >= 0) {
        show_page(target);
        return true;
    }
    if (old >= 0 && m_pages[old] && keep_old) {
        // Its buttons and its place as the current page, without a new set-up.
        set_wizard_buttons(old_buttons);
        m_current_page = m_pages[old];
        show_page(old);
    } else if (old >= 0 && m_pages[old]) {
        m_pages[old]->notify_set_active();
        show_page(old);
    } else if (last_tried >= 0) {
        // Nothing was on show yet: the last page tried is better than none.
        show_page(last_tried);
    }
    return false;
}

void wizard_shell::show_page(int index) {
    wizard_page_base* page = m_pages[index];
    const uint32_t flags = page->page_flags();
    const bool exterior = (flags & psp_hide_header) != 0;
    m_header->setVisible(!exterior);
    m_header_line->setVisible(!exterior);
    m_header_title->setText((flags & psp_use_header_title) ? page->header_title() : QString());
    m_header_subtitle->setText((flags & psp_use_header_subtitle) ? page->header_subtitle() : QString());
    m_watermark->setVisible(exterior && !m_watermark->pixmap().isNull());
    m_body->setAutoFillBackground(exterior);
    QPalette pal = palette();
    if (exterior) pal.setColor(QPalette::Window, Qt::white);
    m_body->setPalette(pal);
    m_stack->setCurrentWidget(page);
    m_help->setEnabled((flags & psp_has_help) != 0);
    m_active = index;
}

void wizard_shell::set_wizard_buttons(uint32_t buttons) {
    tk_log(2, "wizard_shell::set_wizard_buttons(%u)", buttons);
    m_buttons = buttons;
    const bool finish = (buttons & (wizb_finish | wizb_disabled_finish)) != 0;
    m_back->setEnabled((buttons & wizb_back) != 0);
    m_next->setVisible(!finish);
    m_next->setEnabled((buttons & wizb_next) != 0);
    m_finish->setVisible(finish);
    m_finish->setEnabled((buttons & wizb_finish) != 0);
    m_next->setDefault(!finish);
    m_finish->setDefault(finish);
}

bool wizard_shell::set_cur_sel_by_id(uint32_t dialog_id) {
    tk_log(2, "wizard_shell::set_cur_sel_by_id(%u)", dialog_id);
    int index = find_page(dialog_id);
    if (index < 0 || m_moving) return false;
    wizard_page_base* page = active_page();
    if (page && !page->notify_kill_active()) return false;
    return select_page(index, 1);
}

QPushButton* wizard_shell::button(int id) const {
    switch (id) {
    case idc_back: return m_back;
    case idc_next: return m_next;
    case idc_finish: return m_finish;
    case idc_cancel: return m_cancel;
    case idc_help: return m_help;
    default: return nullptr;
    }
}

void wizard_shell::enable_button(int id, bool enable) {
    tk_log(1, "wizard_shell::enable_button(%08X)", static_cast<unsigned>(id));
    if (QPushButton* b = button(id)) b->setEnabled(enable);
}

void wizard_shell::press_button(int id) {
    QPushButton* b = button(id);
    if (b && b->isEnabled()) b->click();
}

void wizard_shell::on_back() {
    wizard_page_base* page = active_page();
    if (!page || m_moving || gui_busy_running()) return;
    int answer = page->notify_wizard_back();
    if (answer == page_refuse) return;
    int target = answer == page_go_on ? m_active - 1 : find_page(static_cast<uint32_t>(answer));
    if (target < 0 || target >= m_pages.size()) return;
    if (!page->notify_kill_active()) return;
    select_page(target, -1);
}

void wizard_shell::on_next() {
    wizard_page_base* page = active_page();
    if (!page || m_moving || gui_busy_running()) return;
    int answer = page->notify_wizard_next();
    if (answer == page_refuse) return;
    int target = answer == page_go_on ? m_active + 1 : find_page(static_cast<uint32_t>(answer));
    if (target < 0 || target >= m_pages.size()) return;
    if (!page->notify_kill_active()) return;
    select_page(target, 1);
}

void wizard_shell::on_finish() {
    wizard_page_base* page = active_page();
    if (!page || m_moving || gui_busy_running()) return;
    if (!page->notify_wizard_finish()) return;
    tk_log(2, "wizard_shell: finished");
    done(1);
}

void wizard_shell::on_cancel() {
    // While a page waits for the server, Cancel cuts that wait only.
    if (gui_busy_cancel()) return;
    if (m_moving) return;
    wizard_page_base* page = active_page();
    if (page && !page->notify_query_cancel()) return;
    tk_log(2, "wizard_shell: cancelled");
    for (auto& p : m_pages)
        if (p) p->notify_reset();
    done(0);
}

void wizard_shell::reject() {
    if (m_cancel->isEnabled()) {
        on_cancel();
        return;
    }
    // The last page: Escape and the close box end the wizard as Finish does.
    if (m_finish->isVisible() && m_finish->isEnabled()) on_finish();
}

void wizard_shell::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        help_request();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

// Initialisation on the first activation.

void wizard_shell::initialize_if() {
    tk_log(2, "wizard_shell::initialize_if");
    if (m_initialized) return;
    setWindowTitle(gui_qstr(m_title));
    if (m_icon_id) {
        QPixmap icon = gui_picture(m_icon_id);
        if (!icon.isNull()) setWindowIcon(QIcon(icon));
    }
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (s) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
    m_initialized = true;
}

bool wizard_shell::is_initialized() {
    tk_log(1, "wizard_shell::is_initialized");
    wizard_shell* shell = peek();
    if (!shell) {
        tk_log(1, "Before return false");
        return false;
    }
    tk_log(1, "Singleton has been initialized");
    return shell->m_initialized.load();
}

// Timer.

void wizard_shell::set_timer(uint32_t period_ms) {
    tk_log(2, "wizard_shell::set_timer(%u)", period_ms);
    if (m_timer_running) throw tk_mail_assertion(source_file, 281);
    bool started = false;
    bool ran = gui_invoke([&] {
        m_timer->start(static_cast<int>(period_ms));
        started = m_timer->isActive();
        // Set here, before the first tick can arrive.
        if (started) m_timer_running = true;
    });
    // A wizard that is closing has no use for the timer: no error then.
    if (!ran && gui_cross_thread_calls_stopped()) {
        tk_log(2, "wizard_shell::set_timer: the wizard is closing");
        return;
    }
    if (!started) throw tk_mail_assertion(source_file, 289);
}

void wizard_shell::kill_timer() {
    tk_log(2, "wizard_shell::kill_timer");
    if (!m_timer_running) return;
    gui_invoke([&] { m_timer->stop(); });
    m_timer_running = false;
}

bool wizard_shell::timer_message(uint32_t timer_id) {
    if (timer_id != wizard_timer_id) return false;
    wizard_page_base* page = active_page();
    if (!page) return false;
    page->notify_timer(timer_id);
    return true;
}

void wizard_shell::help_request() {
    tk_log(2, "wizard_shell::help_request");
    if (gui_busy_running()) return;
    if (wizard_page_base* page = active_page()) page->notify_help();
}

// Help.

std::wstring wizard_shell::help_file_path() {
    tk_file_wname parts(tk_get_module_wname());
    parts.ext = L".html";
    return tk_fname_make_path(parts);
}

namespace {

void open_help(uint32_t command, uint32_t topic) {
    std::wstring path = wizard_shell::help_file_path();
    if (!tk_is_file_exist2(path, tk_fmode_not_folder)) {
        wizard_shell::error(std::wstring(L"Help file does not exist. Reinstall the program."));
        return;
    }
    QString file = gui_qstr(path);
    if (!gui_invoke([&] { gui_current_seam().show_help(file, command, topic); }))
        tk_log(2, "The help window could not be opened");
}

}  // namespace

void wizard_shell::display_help(uint32_t topic) {
    tk_log(1, "wizard_shell::display_help(%d)", static_cast<int>(topic));
    open_help(help_context, topic);
}

void wizard_shell::display_help() {
    tk_log(1, "wizard_shell::display_help");
    open_help(help_display_topic, 0);
}

// Message boxes.

std::wstring wizard_shell::caption_for(const std::wstring& word) {
    if (!is_initialized()) return word;
    wizard_shell* shell = peek();
    return shell ? shell->m_title + L" " + word : word;
}

QWidget* wizard_shell::box_owner() { return is_initialized() ? peek() : nullptr; }

namespace {

int show_box(const std::wstring& word, const std::wstring& text, uint32_t flags) {
    std::wstring caption = wizard_shell::caption_for(word);
    QWidget* owner = wizard_shell::box_owner();
    int answer = id_cancel;
    if (!gui_invoke([&] { answer = gui_current_seam().message_box(owner, gui_qstr(caption), gui_qstr(text), flags); }))
        tk_log(2, "The message box could not be shown");
    return answer;
}

}  // namespace

void wizard_shell::error(const std::wstring& text) {
    if (tk_log_wants(1)) tk_wlog(1, L"wizard_shell::error(%s)", text.c_str());
    show_box(L"Error", text, mb_ok | mb_iconerror);
    if (tk_log_wants(3)) tk_wlog(3, L"%s", text.c_str());
}

void wizard_shell::error(const std::string& text) { error(tk_from_utf8(text)); }

void wizard_shell::message(const std::wstring& text) {
    if (tk_log_wants(1)) tk_wlog(1, L"wizard_shell::message(%s)", text.c_str());
    show_box(L"Message", text, mb_ok | mb_iconinformation);
    if (tk_log_wants(3)) tk_wlog(3, L"%s", text.c_str());
}

bool wizard_shell::question(const std::wstring& text, uint32_t extra_flags) {
    return show_box(L"Question", text, mb_yesno | mb_iconquestion | extra_flags) == id_yes;
}

// Error list.

bool wizard_shell::append_error(const std::string& text, std::size_t limit) {
    return m_errors.with([&](std::vector<std::string>& list) {
        if (list.size() >= limit) {
            ++m_errors_left_out;
            return false;
        }
        list.push_back(text);
        return true;
    });
}

std::size_t wizard_shell::error_count() const {
    return m_errors.with([](const std::vector<std::string>& list) { return list.size(); });
}

void wizard_shell::clear_errors() {
    m_errors.with([](std::vector<std::string>& list) { list.clear(); });
    m_errors_left_out = 0;
}
