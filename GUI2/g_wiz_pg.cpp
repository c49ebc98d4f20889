#include "g_wiz_pg.h"

#include <QAbstractButton>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QShortcutEvent>
#include <QStyledItemDelegate>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include "error_handler.h"
#include "g_seam.h"
#include "g_wiz_sh.h"
#include "tk_excep.h"
#include "tk_log.h"

namespace {

constexpr const char* source_file = "g_wiz_pg";

// Sorted lists order their entries as the platform's list boxes do: letters
// compared ignoring case, ties by the exact text.
int list_compare(const QString& a, const QString& b) {
    int c = QString::compare(a, b, Qt::CaseInsensitive);
    return c != 0 ? c : QString::compare(a, b, Qt::CaseSensitive);
}

}  // namespace

// Reporting.

void gui_report_failure(const tk_exception& e) {
    try {
        if (error_handler* handler = error_handler::peek()) {
            handler->handle(e, false);
        } else {
            tk_log(3, "Error:\n%s", e.what());
            wizard_shell::error(std::string(e.what()));
        }
    } catch (const tk_final_exception&) {
        // Abort in the error dialog: nothing runs here that could be ended,
        // so the user stays where he was.
        tk_log(2, "Abort chosen; staying on the page");
    } catch (const std::exception& again) {
        tk_log(3, "The error could not be reported: %s", again.what());
    }
}

void gui_report_failure(const std::exception& e) {
    try {
        tk_log(3, "Error:\n%s", e.what());
        wizard_shell::error(std::string(e.what()));
    } catch (const std::exception& again) {
        tk_log(3, "The error could not be reported: %s", again.what());
    }
}

namespace {

// The common catch clauses of window code: report, then answer as given.
template <class R>
R page_guarded(const std::function<R()>& fn, R on_failure) {
    try {
        return fn();
    } catch (const tk_final_exception&) {
        tk_log(2, "Abort chosen; staying on the page");
    } catch (const tk_exception& e) {
        gui_report_failure(e);
    } catch (const std::exception& e) {
        gui_report_failure(e);
    }
    return on_failure;
}

}  // namespace

bool gui_guarded(const std::function<void()>& fn) {
    return page_guarded<bool>(
        [&fn] {
            fn();
            return true;
        },
        false);
}

// Controls.

gui_plain_check_box::gui_plain_check_box(const QString& text, QWidget* parent) : QCheckBox(text, parent) {}

gui_radio_button::gui_radio_button(const QString& text, QWidget* parent) : QRadioButton(text, parent) {}

bool gui_radio_button::event(QEvent* e) {
    if (e->type() == QEvent::Shortcut && isEnabled() && !static_cast<QShortcutEvent*>(e)->isAmbiguous()) {
        setFocus(Qt::ShortcutFocusReason);
        if (!isChecked()) click();
        return true;
    }
    return QRadioButton::event(e);
}

namespace {

// Alt+key (or Meta+key) that would type a character. AltGr is not Alt here:
// it types the characters of its level.
bool is_mnemonic_key(const QKeyEvent* e) {
    return (e->modifiers() & (Qt::AltModifier | Qt::MetaModifier)) && !e->text().isEmpty() && e->text().at(0).isPrint();
}

}  // namespace

gui_line_edit::gui_line_edit(QWidget* parent) : QLineEdit(parent) {}

void gui_line_edit::keyPressEvent(QKeyEvent* e) {
    if (is_mnemonic_key(e)) {
        e->ignore();
        return;
    }
    QLineEdit::keyPressEvent(e);
}

gui_text_edit::gui_text_edit(QWidget* parent) : QPlainTextEdit(parent) {}

void gui_text_edit::keyPressEvent(QKeyEvent* e) {
    if (is_mnemonic_key(e)) {
        e->ignore();
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

namespace {

constexpr int mark_role = Qt::UserRole + 1;

// Draws a marked entry's text followed by the list's suffix.
class marked_item_delegate : public QStyledItemDelegate {
public:
    marked_item_delegate(const QString& suffix, QObject* parent) : QStyledItemDelegate(parent), m_suffix(suffix) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(mark_role).toBool()) option->text += m_suffix;
    }

private:
    QString m_suffix;
};

}  // namespace

void gui_list_box::set_mark_suffix(const QString& suffix) {
    QAbstractItemDelegate* old = itemDelegate();
    setItemDelegate(new marked_item_delegate(suffix, this));
    if (old && old->parent() == this) delete old;
}

void gui_list_box::set_marked(int index, bool marked) {
    if (QListWidgetItem* entry = item(index)) entry->setData(mark_role, marked ? QVariant(true) : QVariant());
}

bool gui_list_box::is_marked(int index) const {
    const QListWidgetItem* entry = item(index);
    return entry && entry->data(mark_role).toBool();
}

gui_list_box::gui_list_box(int id, bool sorted, bool multiple, QWidget* parent)
    : QListWidget(parent), m_sorted(sorted) {
    setObjectName(QString::number(id));
    setSelectionMode(multiple ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

int gui_list_box::add_string(const QString& text) {
    int index = count();
    if (m_sorted) {
        // After the entries that sort before it or equal to it.
        int lo = 0, hi = count();
        while (lo < hi) {
            int mid = (lo + hi) / 2;
            if (list_compare(item(mid)->text(), text) <= 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        index = lo;
    }
    insertItem(index, text);
    return index;
}

bool gui_list_box::delete_string(int index) {
    if (index < 0 || index >= count()) return false;
    delete takeItem(index);
    return true;
}

bool gui_list_box::get_text(int index, QString& text) const {
    if (index < 0 || index >= count()) return false;
    text = item(index)->text();
    return true;
}

QString gui_list_box::text_at(int index) const {
    QString text;
    get_text(index, text);
    return text;
}

int gui_list_box::find_string_exact(const QString& text) const {
    for (int i = 0; i < count(); ++i)
        if (QString::compare(item(i)->text(), text, Qt::CaseInsensitive) == 0) return i;
    return -1;
}

int gui_list_box::find_exact_case(const QString& text) const {
    for (int i = 0; i < count(); ++i)
        if (item(i)->text() == text) return i;
    return -1;
}

QList<int> gui_list_box::selected_indexes() const {
    QList<int> out;
    for (int i = 0; i < count(); ++i)
        if (item(i)->isSelected()) out.push_back(i);
    return out;
}

void gui_list_box::select_only(int index) {
    clearSelection();
    if (index < 0 || index >= count()) return;
    setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
}

void gui_list_box::clear_sel() {
    tk_log(2, "sel_tables_page::clear_sel");
    QList<int> sel = selected_indexes();
    tk_log(2, "n_sel=%d", static_cast<int>(sel.size()));
    for (int i : sel) {
        tk_log(2, "Unsel item #%d", i);
        item(i)->setSelected(false);
    }
}

QLabel* gui_make_static(QWidget* parent, int id, const QString& text) {
    auto* label = new QLabel(text, parent);
    if (id) label->setObjectName(QString::number(id));
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* gui_make_button(QWidget* parent, int id, const QString& text) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::number(id));
    b->setAutoDefault(false);
    return b;
}

QRadioButton* gui_make_radio(QWidget* parent, int id, const QString& text) {
    auto* b = new gui_radio_button(text, parent);
    b->setObjectName(QString::number(id));
    return b;
}

QLineEdit* gui_make_edit(QWidget* parent, int id) {
    auto* e = new gui_line_edit(parent);
    e->setObjectName(QString::number(id));
    return e;
}

gui_plain_check_box* gui_make_check(QWidget* parent, int id, const QString& text) {
    auto* b = new gui_plain_check_box(text, parent);
    b->setObjectName(QString::number(id));
    return b;
}

QGroupBox* gui_make_group(QWidget* parent, const QString& title) { return new QGroupBox(title, parent); }

QLabel* gui_add_field_row(QGridLayout* grid, int row, QWidget* parent, const QString& label, QWidget* field,
                          Qt::Alignment label_alignment) {
    QLabel* text = gui_make_static(parent, 0, label);
    text->setBuddy(field);
    grid->addWidget(text, row, 0, label_alignment);
    grid->addWidget(field, row, 1);
    return text;
}

// The page.

wizard_page_common::wizard_page_common(uint32_t dialog_id, uint32_t buttons, uint32_t page_flags, QWidget* parent)
    : wizard_page_base(dialog_id, page_flags, parent), m_buttons(buttons) {}

wizard_page_common::~wizard_page_common() { tk_log(2, "wizard_page::dtor"); }

int wizard_page_common::notify_set_active() {
    tk_log(1, "wizard_page::OnSetActive");
    // A page whose set-up failed is still shown with what it has: the user
    // can go back and change what made it fail.
    return page_guarded<int>(
        [this] {
            wizard_shell* shell = wizard_shell::ptr();
            shell->set_wizard_buttons(m_buttons);
            shell->initialize_if();
            shell->set_current_page(this);
            m_keep_previous = false;
            if (page_init()) return page_go_on;
            return m_keep_previous ? page_keep_previous : page_refuse;
        },
        page_go_on);
}

bool wizard_page_common::notify_kill_active() {
    return page_guarded<bool>([this] { return on_kill_active(); }, false);
}

int wizard_page_common::notify_wizard_back() {
    return page_guarded<int>([this] { return on_back(); }, page_refuse);
}

int wizard_page_common::notify_wizard_next() {
    return page_guarded<int>([this] { return on_next(); }, page_refuse);
}

bool wizard_page_common::notify_wizard_finish() {
    return page_guarded<bool>([this] { return on_wizard_finish(); }, false);
}

bool wizard_page_common::notify_query_cancel() {
    return page_guarded<bool>([this] { return on_cancel(); }, false);
}

void wizard_page_common::notify_help() {
    gui_guarded([this] { on_help(); });
}

void wizard_page_common::notify_timer(uint32_t timer_id) {
    gui_guarded([this, timer_id] { on_timer(timer_id); });
}

bool wizard_page_common::on_cancel() {
    tk_log(2, "wizard_page::on_cancel");
    wizard_shell::ptr();
    return wizard_shell::question(L"Are you sure you want to exit the wizard?", mb_defbutton2);
}

void wizard_page_common::invert_chbox(int id) {
    tk_log(1, "wizard_page::invert_chbox(%d)", id);
    auto* box = control<QAbstractButton>(id);
    if (!box || !box->isCheckable()) throw tk_mail_assertion(source_file, 127);
    box->setChecked(!box->isChecked());
}

void wizard_page_common::enable_ctrl(int id, bool enable) {
    tk_log(1, "wizard_page::enable_ctrl(%d=%d)", id, enable ? 1 : 0);
    if (auto* w = control<QWidget>(id)) w->setEnabled(enable);
}

void wizard_page_common::show_ctrl(int id, bool show) {
    tk_log(1, "wizard_page::show_ctrl(%d=%d)", id, show ? 1 : 0);
    if (auto* w = control<QWidget>(id)) w->setVisible(show);
}

bool wizard_page_common::is_checked(int id) const {
    auto* b = control<QAbstractButton>(id);
    return b && b->isChecked();
}

void wizard_page_common::set_check(int id, bool checked) {
    if (auto* b = control<QAbstractButton>(id)) b->setChecked(checked);
}

const QFont& wizard_page_common::title_font() {
    if (!m_has_title_font) {
        QFont f(QStringLiteral("Segoe UI"));
        f.setStyleHint(QFont::SansSerif, QFont::PreferDefault);
        const int dpi = logicalDpiY() > 0 ? logicalDpiY() : 96;
        f.setPixelSize((13 * dpi + 36) / 72);
        f.setWeight(QFont::Normal);
        m_title_font = f;
        m_has_title_font = true;
    }
    return m_title_font;
}

void wizard_page_common::on_click(int id, const std::function<void()>& handler) {
    auto* b = control<QAbstractButton>(id);
    if (!b) throw tk_mail_assertion(source_file, 300);
    connect(b, &QAbstractButton::clicked, this, [handler] { gui_guarded(handler); });
}
