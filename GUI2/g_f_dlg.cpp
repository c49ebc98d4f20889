#include "g_f_dlg.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include <QDir>

#include "g_seam.h"
#include "g_text.h"
#include "g_thread.h"
#include "g_wiz_sh.h"
#include "tk_excep.h"
#include "tk_files.h"
#include "tk_fname.h"
#include "tk_log.h"
#include "tk_regk.h"
#include "tk_utils.h"

namespace {

constexpr const char* source_file = "g_f_dlg";

// As the platform's chooser does: a dialog asked for the folder of its first
// use again starts in the folder last chosen.
std::wstring first_folder;
bool first_folder_set = false;
std::wstring last_folder;

std::wstring start_folder_for(const std::wstring& folder) {
    if (!first_folder_set) {
        first_folder = folder;
        first_folder_set = true;
        return folder;
    }
    if (folder == first_folder && !last_folder.empty()) return last_folder;
    return folder;
}

std::wstring name_part(const std::wstring& path) {
    auto slash = path.rfind(L'/');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

void gui_forget_chosen_folder() {
    first_folder.clear();
    first_folder_set = false;
    last_folder.clear();
}

namespace {

constexpr const wchar_t* chosen_folder_value = L"file_dlg_dir";

}  // namespace

void gui_load_chosen_folder(const std::string& key_path) {
    tk_serializer key(key_path);
    if (key.open_key() != 0) return;
    std::wstring folder;
    if (key.exchange(chosen_folder_value, folder, false) && !folder.empty() && tk_is_path_exist(folder))
        last_folder = folder;
    key.close_key();
}

void gui_store_chosen_folder(const std::string& key_path) {
    if (last_folder.empty()) return;
    tk_serializer key(key_path);
    if (key.open_key() != 0) return;
    if (!key.exchange(chosen_folder_value, last_folder, true)) tk_log(2, "The folder of the file dialogs is not kept");
    key.close_key();
}

std::wstring gui_bar_filter(const std::wstring& bar_separated) {
    std::wstring out = bar_separated;
    for (auto& c : out)
        if (c == L'|') c = L'\0';
    return out;
}

QStringList gui_name_filters(const std::wstring& filter_list) {
    std::vector<std::wstring> parts;
    std::wstring::size_type start = 0;
    while (start < filter_list.size()) {
        auto end = filter_list.find(L'\0', start);
        if (end == std::wstring::npos) end = filter_list.size();
        if (end == start) break;  // the double NUL ends the list
        parts.push_back(filter_list.substr(start, end - start));
        start = end + 1;
    }
    QStringList filters;
    for (size_t i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& p : gui_qstr(parts[i + 1]).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            QString pattern = p.trimmed();
            patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
        }
        filters << gui_qstr(parts[i]) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QStringLiteral(")");
    }
    return filters;
}

std::wstring gui_with_extension(const std::wstring& path, const std::wstring& ext) {
    if (ext.empty() || name_part(path).find(ext) != std::wstring::npos) return path;
    return path + ext;
}

file_dialog::file_dialog(QWidget* owner, const std::wstring& filter, const std::wstring& title,
                         const std::wstring& initial_path)
    : m_owner(owner), m_filter(filter), m_title(title), m_no_initial_path(initial_path.empty()) {
    tk_file_wname parts(initial_path);
    m_file_name = parts.fname + (initial_path.empty() ? std::wstring() : parts.ext);
    m_initial_folder = parts.get_folder();
}

file_dialog::~file_dialog() = default;

bool file_dialog::run(bool save, bool must_exist) {
    if (tk_log_wants(2)) tk_wlog(2, L"file_dialog::show(%s)", m_title.c_str());
    // The folder must have a form in the ANSI code page.
    std::string folder_ansi;
    if (!tk_unicode_to_ansi3(m_initial_folder.c_str(), folder_ansi)) return false;
    // The folder is handed to the chooser: the process's working folder is
    // not changed.
    gui_file_request request;
    request.owner = m_owner;
    request.save = save;
    request.must_exist = must_exist;
    request.title = gui_qstr(m_title);
    request.filters = gui_name_filters(m_filter);
    // Without an initial path the chooser starts where the user last chose a
    // file, else in the home folder (not in the program's folder).
    if (m_no_initial_path)
        request.directory = last_folder.empty() ? QDir::homePath() : gui_qstr(last_folder);
    else
        request.directory = gui_qstr(start_folder_for(m_initial_folder));
    request.file_name = gui_qstr(m_file_name);
    QString chosen;
    bool confirmed = false;
    if (!gui_invoke([&] { confirmed = gui_current_seam().choose_file(request, chosen); })) return false;
    if (!confirmed || chosen.isEmpty()) return false;
    std::wstring path = gui_wstr(chosen);
    if (must_exist && !tk_is_file_exist2(path, tk_fmode_not_folder)) {
        tk_log(2, "file_dialog: the chosen file does not exist");
        return false;
    }
    m_file_name = path;
    tk_file_wname parts(path);
    last_folder = parts.get_folder();
    return true;
}

open_file_dialog::open_file_dialog(QWidget* owner, const std::wstring& filter, const std::wstring& title,
                                   const std::wstring& initial_path)
    : file_dialog(owner, filter, title, initial_path) {}

bool open_file_dialog::show() { return run(false, true); }

save_file_dialog::save_file_dialog(QWidget* owner, const std::wstring& filter, const std::wstring& title,
                                   const std::wstring& initial_path, const std::wstring& default_extension)
    : file_dialog(owner, filter, title, initial_path) {
    if (default_extension.empty()) throw tk_mail_assertion(source_file, 111);
    m_default_ext = default_extension.front() == L'.' ? default_extension : L"." + default_extension;
}

bool save_file_dialog::show() {
    const std::wstring initial_name = m_file_name;
    for (;;) {
        if (!run(true, false)) return false;
        m_file_name = gui_with_extension(m_file_name, m_default_ext);
        // An existing file is replaced only when the user says so; No
        // chooses again.
        if (!tk_is_file_exist2(m_file_name, tk_fmode_not_folder)) return true;
        if (wizard_shell::question(m_file_name + L" already exists.\nDo you want to replace it?", mb_defbutton2))
            return true;
        m_file_name = initial_name;
    }
}

std::wstring browse_start_folder(const std::wstring& destination) {
    if (!destination.empty()) return destination;
    std::vector<char> buf(256);
    for (;;) {
        if (getcwd(buf.data(), buf.size())) return tk_from_utf8(buf.data());
        if (errno != ERANGE) return std::wstring();
        buf.resize(buf.size() * 2);
    }
}

bool browse_for_folder(QWidget* owner, const std::wstring& title, const std::wstring& destination,
                       std::wstring& chosen) {
    tk_log(2, "browse_for_folder");
    const QString start = gui_qstr(browse_start_folder(destination));
    QString folder;
    bool ok = false;
    if (!gui_invoke([&] { ok = gui_current_seam().choose_folder(owner, gui_qstr(title), start, folder); })) return false;
    if (!ok || folder.isEmpty()) return false;
    chosen = gui_wstr(folder);
    return true;
}
