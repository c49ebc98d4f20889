#include "con_tabfile.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "con_exit.h"
#include "kvr_conv.h"
#include "last_error.h"
#include "tk_excep.h"
#include "tk_files.h"
#include "tk_log.h"
#include "utf8.h"

namespace {

struct file_closer {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};
using file_ptr = std::unique_ptr<FILE, file_closer>;

[[noreturn]] void throw_file_error(const char* prefix, int err) {
    plat::set_last_error(static_cast<uint32_t>(err));
    throw tk_exception_ex(prefix, 1);
}

// One line without its end; false at the end of the file.
bool read_line(FILE* f, std::string& line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::getc(f)) != EOF) {
        any = true;
        if (c == '\n') break;
        line.push_back(static_cast<char>(c));
    }
    if (c == EOF && std::ferror(f)) throw_file_error("Cannot read table names file: ", errno);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

}  // namespace

std::vector<std::wstring> read_table_list(const std::string& path) {
    file_ptr f(std::fopen(path.c_str(), "rb"));
    if (!f) throw_file_error("Cannot open table names file: ", errno);

    std::vector<std::wstring> names;
    std::string line;
    bool first = true;
    while (read_line(f.get(), line)) {
        if (first && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
        first = false;
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
