#include "con_tabfile.h"

#include <cerrno>
#include <string_view>

#include "con_exit.h"
#include "kvr_conv.h"
#include "last_error.h"
#include "tk_bounded_read.h"
#include "tk_excep.h"
#include "tk_files.h"
#include "tk_log.h"
#include "utf8.h"

namespace {

[[noreturn]] void throw_file_error(const char* prefix, int err) {
    plat::set_last_error(static_cast<uint32_t>(err));
    throw tk_exception_ex(prefix, 1);
}

[[noreturn]] void throw_limit_error(const std::string& path, const std::string& what) {
    throw tk_exception("The table names file " + path + " " + what, 1);
}

}  // namespace

std::vector<std::wstring> read_table_list(const std::string& path) {
    std::string bytes;
    int err = 0;
    switch (tk_read_bounded(path, table_list_max_bytes, table_list_max_line, bytes, err)) {
    case tk_read_status::ok:
        break;
    case tk_read_status::open_failed:
        throw_file_error("Cannot open table names file: ", err);
    case tk_read_status::read_failed:
        throw_file_error("Cannot read table names file: ", err);
    case tk_read_status::too_large:
        throw_limit_error(path, "is larger than 16 MiB");
    case tk_read_status::line_too_long:
        throw_limit_error(path, "has a line longer than 64 KiB");
    case tk_read_status::no_data:
        throw_limit_error(path, "gave nothing to read for " + std::to_string(tk_input_wait_seconds) + " seconds");
    }

    std::vector<std::wstring> names;
    std::string_view rest(bytes);
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        names.push_back(plat::utf8_decode(line));
    }
    return names;
}

void process_tab_file(const std::string& path) {
    tk_log(1, "process_tab_file(%s)", path.c_str());
    if (!tk_is_file_exist1(path, tk_fmode_not_folder))
        fatal_exit("Table names file does not exist.\nPlease verify the correct path/name was given.");
    std::vector<std::wstring> names = read_table_list(path);
    kellvar_converter::ptr()->selected_tables = std::move(names);
}
