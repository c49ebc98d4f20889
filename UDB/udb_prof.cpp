#include "udb_prof.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

#include "last_error.h"
#include "tk_bounded_read.h"
#include "tk_excep.h"
#include "tk_files.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_prof_line.h"
#include "unique_fd.h"
#include "utf8.h"

namespace {

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

void append_line(std::string& out, const std::wstring& line) {
    plat::utf8_encode_append(out, line);
    out += "\r\n";
}

[[noreturn]] void throw_invalid(const std::wstring& path, size_t line_no) {
    throw tk_exception(L"Invalid profile file '" + path + L"': line " + std::to_wstring(line_no) +
                           L" is not inside a section.",
                       1);
}

}  // namespace

udb_profile::udb_profile() {
    add_section(udb_section_available_queries);
    add_section(udb_section_selected_tables);
    add_section(udb_section_selected_views);
    add_section(udb_section_generic);
}

void udb_profile::add_section(const std::wstring& name) { sections_.try_emplace(name); }

void udb_profile::set_value(const std::wstring& section, const std::wstring& key, const std::wstring& value) {
    sections_[section].emplace_back(key, value);
}

std::wstring udb_profile::get_value(const std::wstring& section, const std::wstring& key) const {
    auto it = sections_.find(section);
    if (it == sections_.end()) return std::wstring();
    for (const entry& e : it->second)
        if (e.first == key) return e.second;
    return std::wstring();
}

const udb_profile::entry_list& udb_profile::get_list(const wchar_t* section) const {
    auto it = sections_.find(section);
    if (it == sections_.end())
        throw tk_exception_ex("Profile section '" + plat::utf8_encode(section) + "' is missing: ", 1);
    return it->second;
}

const udb_profile::entry_list& udb_profile::get_available_queries() const {
    return get_list(udb_section_available_queries);
}

const udb_profile::entry_list& udb_profile::get_selected_tables() const {
    return get_list(udb_section_selected_tables);
}

const udb_profile::entry_list& udb_profile::get_selected_views() const {
    return get_list(udb_section_selected_views);
}

bool udb_profile::load(const std::wstring& path) {
    tk_wlog(2, L"udb_profile::load(%s)", path.c_str());
    if (!tk_is_file_exist2(path, tk_fmode_not_folder))
        throw tk_exception(std::wstring(L"Profile does not exist. Please verify the correct path/name was given."), 1);

    std::string native;
    if (!tk_unicode_to_ansi3(path.c_str(), native)) return false;
    // A profile that cannot be read fails as a missing one does, with the
    // system's reason.
    std::string bytes;
    int err = 0;
    switch (tk_read_bounded(native, udb_profile_max_bytes, 0, bytes, err)) {
    case tk_read_status::ok:
        break;
    case tk_read_status::open_failed:
    case tk_read_status::read_failed:
        plat::set_last_error(static_cast<uint32_t>(err));
        throw tk_exception_ex("Cannot read profile " + native + ": ", 1);
    case tk_read_status::too_large:
    case tk_read_status::line_too_long:
        throw tk_exception("The profile " + native + " is larger than 16 MiB", 1);
    case tk_read_status::no_data:
        throw tk_exception("The profile " + native + " gave nothing to read for " +
                               std::to_string(tk_input_wait_seconds) + " seconds",
                           1);
    }

    std::string_view rest(bytes);
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);

    const std::wstring* section_name = nullptr;
    entry_list* section = nullptr;
    // Escapes are read only in a profile that begins with the mark.
    bool escaped = false;
    bool first = true;
    size_t line_no = 0;
    while (!rest.empty()) {
        ++line_no;
        size_t end = rest.find('\n');
        std::string_view raw = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (end != std::string_view::npos && !raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

        std::wstring line = tk_trim(plat::utf8_decode(raw));
        if (line.empty()) continue;
        if (first) {
            first = false;
            if (line == udb_profile_escape_mark) {
                escaped = true;
                continue;
            }
        }
        udb_profile_line read = udb_parse_profile_line(line, escaped);
        if (read.what == udb_profile_line::kind::section) {
            auto it = sections_.try_emplace(std::move(read.key)).first;
            section_name = &it->first;
            section = &it->second;
            continue;
        }
        if (!section) throw_invalid(path, line_no);
        if (read.what == udb_profile_line::kind::pair) {
            section->emplace_back(std::move(read.key), std::move(read.value));
        } else {
            plain_lists_[*section_name].push_back(read.key);
            section->emplace_back(std::move(read.key), std::wstring());
        }
    }
    return true;
}

bool udb_profile::needs_escapes() const {
    for (const auto& [name, pairs] : sections_) {
        if (!udb_section_reads_back(name)) return true;
        const bool tables = name == udb_section_selected_tables;
        for (const entry& e : pairs) {
            const bool fits = tables && e.second.empty() ? e.first.empty() || udb_plain_reads_back(e.first)
                                                         : udb_pair_reads_back(e.first, e.second);
            if (!fits) return true;
        }
    }
    for (const auto& [name, lines] : plain_lists_) {
        if (!udb_section_reads_back(name)) return true;
        for (const std::wstring& line : lines)
            if (!line.empty() && !udb_plain_reads_back(line)) return true;
    }
    return false;
}

std::string udb_profile::to_text() const {
    const bool escaped = needs_escapes();
    std::string out;
    if (escaped) append_line(out, udb_profile_escape_mark);
    for (const auto& [name, pairs] : sections_) {
        const bool tables = name == udb_section_selected_tables;
        append_line(out, udb_section_line(name, escaped));
        for (const entry& e : pairs) {
            if (tables && e.second.empty())
                append_line(out, udb_plain_line(e.first, escaped));
            else
                append_line(out, udb_pair_line(e.first, e.second, escaped));
        }
        out += "\r\n";
    }
    for (const auto& [name, lines] : plain_lists_) {
        append_line(out, udb_section_line(name, escaped));
        for (const std::wstring& line : lines) append_line(out, udb_plain_line(line, escaped));
    }
    return out;
}

bool udb_profile::store(const std::wstring& path) const {
    tk_wlog(2, L"udb_profile::store)");
    std::string native;
    if (!tk_unicode_to_ansi3(path.c_str(), native)) return false;

    // The profile may hold a password: a new file is private to its owner.
    plat::unique_fd fd(::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, S_IRUSR | S_IWUSR));
    if (fd.get() < 0) {
        uint32_t err = plat::set_last_error_from_errno();
        tk_log(3, "Cannot create profile %s: %s", native.c_str(), plat::system_error_text(err).c_str());
        return false;
    }
    // An existing file that others could read is made private too (regular
    // files only: a device or pipe keeps its mode).
    struct stat st {};
    if (::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0777) != (S_IRUSR | S_IWUSR) &&
        ::fchmod(fd.get(), S_IRUSR | S_IWUSR) != 0)
        tk_log(1, "fchmod failed: %s", std::strerror(errno));

    if (!write_all(fd.get(), to_text())) {
        uint32_t err = plat::set_last_error_from_errno();
        tk_log(3, "Cannot write profile %s: %s", native.c_str(), plat::system_error_text(err).c_str());
        return false;
    }
    if (fd.close() != 0) {
        uint32_t err = plat::set_last_error_from_errno();
        tk_log(3, "Cannot close profile %s: %s", native.c_str(), plat::system_error_text(err).c_str());
        return false;
    }
    return true;
}
