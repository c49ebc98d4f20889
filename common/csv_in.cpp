#include "csv_in.h"

#include <sys/types.h>

#include <cerrno>
#include <cstdlib>

#include "csv_format.h"
#include "csv_parse.h"
#include "csv_path.h"
#include "last_error.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "utf8.h"

csv_input::~csv_input() {
    close();
    std::free(line_);
}

void csv_input::open(const std::wstring& path) {
    close();
    std::string native;
    const bool ok = csv_native_path(path, native);
    if (ok) file_.reset(std::fopen(native.c_str(), "rbe"));
    if (!file_) {
        if (!ok) errno = ENOENT;
        plat::set_last_error_from_errno();
        throw tk_exception_ex(ok ? "Error opening CSV file " + native + ": "
                                 : std::string("Error opening CSV file: "),
                              1);
    }
    at_start_ = true;
    at_end_ = false;
}

void csv_input::close() {
    file_.reset();
    at_end_ = true;
}

void csv_input::rewind() {
    if (!file_) return;
    std::clearerr(file_.get());
    if (std::fseek(file_.get(), 0, SEEK_SET) != 0) {
        plat::set_last_error_from_errno();
        tk_log(3, "Cannot rewind CSV file: %s", plat::system_error_text(plat::get_last_error()).c_str());
        at_end_ = true;
        return;
    }
    at_start_ = true;
    at_end_ = false;
}

bool csv_input::read_record(std::string& out, std::string_view delim) {
    out.clear();
    if (!file_ || at_end_) {
        at_end_ = true;
        return false;
    }
    bool any = false;
    csv_state st = csv_state::field_start;
    for (;;) {
        errno = 0;
        ssize_t n = ::getline(&line_, &line_cap_, file_.get());
        if (n < 0) {
            if (std::ferror(file_.get())) {
                plat::set_last_error_from_errno();
                tk_log(3, "Reading CSV file failed: %s", plat::system_error_text(plat::get_last_error()).c_str());
                if (!any) {
                    at_end_ = true;
                    return false;
                }
            }
            if (!any) {
                at_end_ = true;
                return false;
            }
            break;  // open quotes up to the end of the file: the record ends there
        }
        std::string_view phys(line_, static_cast<size_t>(n));
        const bool had_lf = !phys.empty() && phys.back() == '\n';
        if (had_lf) phys.remove_suffix(1);
        if (any) out.push_back('\n');  // a line break inside quotes
        if (at_start_) {
            at_start_ = false;
            if (phys.substr(0, csv_bom_len) == std::string_view(csv_bom, csv_bom_len)) phys.remove_prefix(csv_bom_len);
        }
        any = true;
        const size_t from = out.size();
        out.append(phys);
        st = csv_scan_state(std::string_view(out).substr(from), delim, st);
        if (st != csv_state::quoted || !had_lf) break;
    }
    // CR LF ends a record: drop the CR that is not inside quotes.
    if (st != csv_state::quoted && !out.empty() && out.back() == '\r') out.pop_back();
    return true;
}
