#include "tk_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "last_error.h"
#include "text.h"
#include "tk_excep.h"
#include "tk_fname.h"
#include "tk_log.h"
#include "utf8.h"

namespace {

// Native form of a wide path; false when some character has no UTF-8 form
// (a lone surrogate, a value above U+10FFFF) or the path holds a zero.
bool to_native(const std::wstring& path, std::string& out) {
    for (wchar_t c : path) {
        auto cp = static_cast<uint32_t>(c);
        if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    }
    out = plat::utf8_encode(path);
    return true;
}

bool stat_path(const std::string& path, struct stat& st) {
    if (path.empty() || path.find('\0') != std::string::npos) return false;
    if (::stat(path.c_str(), &st) != 0) {
        plat::set_last_error_from_errno();
        return false;
    }
    return true;
}

bool is_folder(const std::string& path) {
    struct stat st;
    return stat_path(path, st) && S_ISDIR(st.st_mode);
}

bool file_test(const std::string& path, uint32_t mode) {
    struct stat st;
    if (!stat_path(path, st) || S_ISDIR(st.st_mode)) return false;
    if (mode == tk_fmode_writable) return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
    if (mode != tk_fmode_not_folder) tk_log(2, "Unexpected file test mode %08X, tested as existence", mode);
    return true;
}

struct dir_closer {
    void operator()(DIR* d) const { ::closedir(d); }
};

}  // namespace

bool tk_is_path_exist(const std::string& path) {
    tk_log(1, "tk_is_path_exist(%s)", path.c_str());
    return is_folder(path);
}

bool tk_is_path_exist(const std::wstring& path) {
    std::string native;
    if (!to_native(path, native)) return false;
    return tk_is_path_exist(native);
}

bool tk_is_file_exist1(const std::string& path, uint32_t mode) {
    tk_log(1, "tk_is_file_exist1(%s,%d)", path.c_str(), static_cast<int>(mode));
    return file_test(path, mode);
}

bool tk_is_file_exist2(const std::wstring& path, uint32_t mode) {
    if (tk_log_wants(2)) tk_wlog(2, L"tk_is_file_exist2(%s,%08X)", path.c_str(), mode);
    std::string native;
    if (!to_native(path, native)) return false;
    return file_test(native, mode);
}

int tk_has_access(const std::string& path, uint32_t desired) {
    tk_log(2, "tk_has_access(%s,%08X)", path.c_str(), desired);
    struct stat st;
    if (!stat_path(path, st)) return 0;
    // Generic rights mapped to the specific file rights.
    uint32_t rights = desired & 0x0FFFFFFFu;
    if (desired & tk_generic_read) rights |= 0x120089u;
    if (desired & tk_generic_write) rights |= 0x120116u;
    if (desired & tk_generic_execute) rights |= 0x1200A0u;
    if (desired & tk_generic_all) rights |= 0x1F01FFu;
    int how = 0;
    if (rights & 0x0001u) how |= R_OK;                     // read data / list folder
    if (rights & (0x0002u | 0x0004u | 0x0010u | 0x0100u | 0x10000u)) how |= W_OK;  // write, append, attributes, delete
    if (rights & 0x0020u) how |= X_OK;                     // execute / traverse
    if (S_ISDIR(st.st_mode) && (how & W_OK)) how |= X_OK;  // creating entries needs search permission too
    if (how == 0) how = F_OK;
    if (::faccessat(AT_FDCWD, path.c_str(), how, AT_EACCESS) != 0) {
        plat::set_last_error_from_errno();
        return 0;
    }
    return 1;
}

bool tk_mask_match(std::wstring_view mask, std::wstring_view name) {
    // Greedy wildcard match with one backtrack point per '*'.
    size_t m = 0, n = 0, star = std::wstring_view::npos, mark = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == L'*') {
            star = m++;
            mark = n;
        } else if (m < mask.size() && (mask[m] == L'?' || plat::fold_case(mask[m]) == plat::fold_case(name[n]))) {
            ++m;
            ++n;
        } else if (star != std::wstring_view::npos) {
            m = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == L'*') ++m;
    return m == mask.size();
}

bool tk_find_files(const std::wstring& folder, const std::wstring& mask, std::vector<std::wstring>& out,
                   bool with_folders) {
    out.clear();
    std::wstring dir = folder;
    std::wstring pattern = mask;
    auto slash = mask.rfind(L'/');
    if (slash != std::wstring::npos) {
        std::wstring sub = mask.substr(0, slash + 1);
        pattern = mask.substr(slash + 1);
        if (!sub.empty() && sub.front() == L'/') dir = sub;
        else dir = dir.empty() ? sub : (dir.back() == L'/' ? dir + sub : dir + L"/" + sub);
    }
    if (dir.empty()) dir = L".";
    std::string native;
    if (!to_native(dir, native)) {
        tk_log(2, "No files found");
        return false;
    }
    std::unique_ptr<DIR, dir_closer> d(::opendir(native.c_str()));
    if (!d) {
        plat::set_last_error_from_errno();
        tk_log(2, "No files found");
        return false;
    }
    int dfd = ::dirfd(d.get());
    for (;;) {
        errno = 0;
        dirent* e = ::readdir(d.get());
        if (!e) {
            if (errno != 0) {
                plat::set_last_error_from_errno();
                tk_log(2, "Couldn't find next file");
                out.clear();
                return false;
            }
            break;
        }
        std::string raw = e->d_name;
        if (raw == "." || raw == "..") continue;
        std::wstring name = plat::utf8_decode(raw);
        if (!tk_mask_match(pattern, name)) continue;
        struct stat st;
        if (::fstatat(dfd, e->d_name, &st, 0) != 0) continue;  // dangling link or vanished entry
        bool folder_entry = S_ISDIR(st.st_mode);
        if (!(S_ISREG(st.st_mode) || (with_folders && folder_entry))) continue;
        if (tk_log_wants(2)) tk_wlog(2, L"Found file: %s", name.c_str());
        out.push_back(std::move(name));
    }
    if (out.empty()) {
        tk_log(2, "No files found");
        return false;
    }
    std::sort(out.begin(), out.end(), [](const std::wstring& a, const std::wstring& b) {
        int c = plat::compare_nocase(a, b);
        return c != 0 ? c < 0 : a < b;
    });
    tk_log(2, "No more files");
    return true;
}

void common_create_path(const std::wstring& path) {
    if (tk_log_wants(2)) tk_wlog(2, L"common_create_path(%s)", path.c_str());
    if (tk_is_path_exist(path)) return;

    std::wstring current = tk_fname_make_path(tk_file_wname(path));
    if (current.size() > 1 && current.back() == L'/') current.pop_back();

    std::vector<std::wstring> missing;  // remembered levels, innermost first
    for (;;) {
        tk_file_wname parts(current);
        std::wstring last = parts.fname + parts.ext;
        if (tk_log_wants(1)) tk_wlog(1, L"Store level '%s'", last.c_str());
        std::wstring parent = parts.get_folder();
        if (tk_log_wants(1)) tk_wlog(1, L"Drivepath=%s", parent.c_str());
        if (tk_is_path_exist(parent)) break;
        if (last.empty() || parent.empty())
            throw tk_exception(std::string("The program cannot resolve the path specified"), 1);
        missing.push_back(last);
        current = parent;
        if (current.size() > 1 && current.back() == L'/') current.pop_back();
    }

    auto make_level = [](const std::wstring& level) {
        if (tk_log_wants(1)) tk_wlog(1, L"tmp_path=%s", level.c_str());
        std::string native;
        if (!to_native(level, native)) {
            plat::set_last_error(EINVAL);
            throw tk_exception_ex(std::string(), 1);
        }
        if (::mkdir(native.c_str(), 0777) != 0) {
            int err = errno;
            if (err == EEXIST && is_folder(native)) return;  // made meanwhile by someone else
            plat::set_last_error(static_cast<uint32_t>(err));
            throw tk_exception_ex("Cannot create the folder " + native + ": ", 1);
        }
    };

    make_level(current);
    while (!missing.empty()) {
        current += L"/";
        current += missing.back();
        missing.pop_back();
        make_level(current);
    }
}
