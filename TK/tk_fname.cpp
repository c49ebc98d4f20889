#include "tk_fname.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

#include "tk_excep.h"
#include "tk_log.h"
#include "tk_module.h"
#include "utf8.h"

namespace {

constexpr const char* fname_source = "tk_fname";

std::string current_folder() {
    std::vector<char> buf(256);
    for (;;) {
        if (getcwd(buf.data(), buf.size())) return std::string(buf.data());
        if (errno != ERANGE) return std::string();
        buf.resize(buf.size() * 2);
    }
}

template <class S>
void split_path(const S& path, S& dir, S& fname, S& ext) {
    using C = typename S::value_type;
    auto slash = path.rfind(static_cast<C>('/'));
    S file;
    if (slash == S::npos) {
        dir.clear();
        file = path;
    } else {
        dir = path.substr(0, slash + 1);
        file = path.substr(slash + 1);
    }
    // A leading point starts a hidden name, not an extension.
    auto dot = file.rfind(static_cast<C>('.'));
    if (dot == S::npos || dot == 0) {
        fname = file;
        ext.clear();
    } else {
        fname = file.substr(0, dot);
        ext = file.substr(dot);
    }
}

template <class S>
S make_path(const S& drive, const S& dir, const S& fname, const S& ext) {
    using C = typename S::value_type;
    S out = drive + dir;
    if (!out.empty() && out.back() != static_cast<C>('/') && !(fname.empty() && ext.empty()))
        out.push_back(static_cast<C>('/'));
    out += fname;
    if (!ext.empty() && ext.front() != static_cast<C>('.')) out.push_back(static_cast<C>('.'));
    out += ext;
    return out;
}

}  // namespace

bool tk_full_path(const std::string& path, std::string& out) {
    std::string work;
    if (!path.empty() && path.front() == '/') {
        work = path;
    } else {
        std::string cwd = current_folder();
        if (cwd.empty()) return false;
        work = cwd + "/" + path;
    }
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    while (start <= work.size()) {
        auto end = work.find('/', start);
        if (end == std::string::npos) end = work.size();
        std::string seg = work.substr(start, end - start);
        if (seg == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!seg.empty() && seg != ".") {
            parts.push_back(std::move(seg));
        }
        start = end + 1;
    }
    out.assign(1, '/');
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out.push_back('/');
        out += parts[i];
    }
    bool trailing = !path.empty() && path.back() == '/';
    if (trailing && out.size() > 1) out.push_back('/');
    return true;
}

tk_file_name::tk_file_name(const std::string& path) {
    tk_log(1, "tk_file_name::ctor(%s)", path.c_str());
    initialize(path.c_str());
}

tk_file_name::tk_file_name(const char* path) {
    tk_log(1, "tk_file_name::ctor(%s)", path ? path : "");
    initialize(path);
}

void tk_file_name::initialize(const char* path) {
    if (!path) throw tk_mail_assertion(fname_source, 31);
    bool own = *path == '\0';
    std::string full;
    if (own) {
        full = tk_get_module_name();
    } else if (!tk_full_path(path, full)) {
        throw tk_mail_assertion(fname_source, 39);
    }
    drive.clear();
    split_path(full, dir, fname, ext);
    if (own) fname.clear();
}

tk_file_wname::tk_file_wname(const std::wstring& path) {
    if (tk_log_wants(1)) tk_wlog(1, L"tk_file_name::ctor(%s)", path.c_str());
    initialize(path.c_str());
}

tk_file_wname::tk_file_wname(const wchar_t* path) {
    if (tk_log_wants(1)) tk_wlog(1, L"tk_file_name::ctor(%s)", path ? path : L"");
    initialize(path);
}

void tk_file_wname::initialize(const wchar_t* path) {
    if (!path) throw tk_mail_assertion(fname_source, 83);
    if (tk_log_wants(1)) tk_wlog(1, L"tk_file_wname::initialize(%s)", path);
    bool own = *path == L'\0';
    std::wstring full;
    if (own) {
        full = tk_get_module_wname();
    } else {
        std::string native;
        if (!tk_full_path(plat::utf8_encode(path), native)) throw tk_mail_assertion(fname_source, 91);
        full = plat::utf8_decode(native);
    }
    drive.clear();
    split_path(full, dir, fname, ext);
    if (own) fname.clear();
}

std::wstring tk_fname_make_path(const tk_file_wname& p) { return make_path(p.drive, p.dir, p.fname, p.ext); }

std::string tk_fname_make_path(const tk_file_name& p) { return make_path(p.drive, p.dir, p.fname, p.ext); }
