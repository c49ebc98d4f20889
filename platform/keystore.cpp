#include "keystore.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <mutex>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "text.h"
#include "unique_fd.h"
#include "utf8.h"

namespace plat {

namespace {

constexpr const char* key_file_suffix = ".reg";

// Serialises read-modify-write within the process; flock on the key's folder
// does the same between processes.
std::mutex g_write_mutex;

uint32_t err() { return errno ? static_cast<uint32_t>(errno) : static_cast<uint32_t>(EIO); }

std::string parent_of(const std::string& file) {
    std::size_t slash = file.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return file.substr(0, slash);
}

// Creates every missing folder of an absolute path, each with mode 0700.
uint32_t make_folders(const std::string& path) {
    std::size_t pos = 1;
    while (pos <= path.size()) {
        std::size_t next = path.find('/', pos);
        if (next == std::string::npos) next = path.size();
        if (next > pos) {
            std::string prefix = path.substr(0, next);
            struct stat st {};
            if (::stat(prefix.c_str(), &st) == 0) {
                if (!S_ISDIR(st.st_mode)) return ENOTDIR;
            } else if (errno != ENOENT) {
                return err();
            } else if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) {
                return err();
            }
        }
        pos = next + 1;
    }
    return 0;
}

// Length of the well-formed UTF-8 sequence starting at s[i], 0 when there is none.
std::size_t utf8_seq_len(std::string_view s, std::size_t i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    std::size_t len;
    char32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

void append_hex_escape(std::string& out, unsigned char c) {
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 0x0F]);
}

void escape_into(std::string& out, std::string_view s, bool is_name) {
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '=' && is_name) {
            out += "\\=";
        } else if (c < 0x20 || c == 0x7F) {
            append_hex_escape(out, c);
        } else if (c >= 0x80) {
            std::size_t len = utf8_seq_len(s, i);
            if (len == 0) {
                append_hex_escape(out, c);
            } else {
                out.append(s.substr(i, len));
                i += len;
                continue;
            }
        } else {
            out.push_back(static_cast<char>(c));
        }
        ++i;
    }
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes s from pos up to an unescaped stop character (or the end when stop
// is 0). False for a bad escape, a zero byte or a missing stop character.
bool unescape(std::string_view s, std::size_t& pos, char stop, std::string& out) {
    while (pos < s.size()) {
        char c = s[pos];
        if (stop && c == stop) return true;
        if (c != '\\') {
            out.push_back(c);
            ++pos;
            continue;
        }
        if (pos + 1 >= s.size()) return false;
        char e = s[pos + 1];
        switch (e) {
            case '\\': out.push_back('\\'); pos += 2; break;
            case 'n': out.push_back('\n'); pos += 2; break;
            case 'r': out.push_back('\r'); pos += 2; break;
            case '=': out.push_back('='); pos += 2; break;
            case 'x': {
                if (pos + 4 > s.size()) return false;
                int hi = hex_value(s[pos + 2]);
                int lo = hex_value(s[pos + 3]);
                if (hi < 0 || lo < 0) return false;
                char b = static_cast<char>((hi << 4) | lo);
                if (b == '\0') return false;
                out.push_back(b);
                pos += 4;
                break;
            }
            default:
                return false;
        }
    }
    return stop == 0;
}

bool parse_line(std::string_view line, std::string& name, reg_value& value) {
    std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return false;
    std::string_view tag = line.substr(0, space);
    if (tag == "u32") {
        value.type = reg_type::u32;
    } else if (tag == "text") {
        value.type = reg_type::text;
    } else {
        return false;
    }
    std::size_t pos = space + 1;
    if (!unescape(line, pos, '=', name)) return false;
    ++pos;  // the '='
    std::string_view rest = line.substr(pos);
    if (value.type == reg_type::u32) {
        if (rest.empty() || rest.front() < '0' || rest.front() > '9') return false;
        const char* end = rest.data() + rest.size();
        auto [p, ec] = std::from_chars(rest.data(), end, value.number);
        return ec == std::errc() && p == end;
    }
    std::size_t vpos = 0;
    return unescape(rest, vpos, 0, value.text);
}

bool same_name(std::string_view a, std::string_view b) {
    if (a == b) return true;
    return equal_nocase(utf8_decode(a), utf8_decode(b));
}

uint32_t write_fully(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return err();
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

}  // namespace

const reg_root* reg_current_user() {
    static const reg_root root{};
    return &root;
}

std::string reg_user_folder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    std::string base;
    if (home && home[0] == '/') {
        base = home;
    } else {
        struct passwd pw {};
        struct passwd* found = nullptr;
        std::vector<char> buf(16384);
        if (getpwuid_r(geteuid(), &pw, buf.data(), buf.size(), &found) == 0 && found &&
            found->pw_dir && found->pw_dir[0] == '/')
            base = found->pw_dir;
    }
    if (base.empty()) return {};
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    return base == "/" ? "/.config" : base + "/.config";
}

uint32_t reg_key_file(const std::string& folder, std::string_view key_path, std::string& file) {
    if (folder.empty() || key_path.empty()) return EINVAL;
    std::string out = folder;
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    std::size_t pos = 0;
    while (true) {
        std::size_t next = key_path.find('\\', pos);
        std::string_view part =
            key_path.substr(pos, next == std::string_view::npos ? std::string_view::npos : next - pos);
        if (part.empty() || part == "." || part == ".." ||
            part.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
            return EINVAL;
        if (out != "/") out.push_back('/');
        out.append(part);
        if (next == std::string_view::npos) break;
        pos = next + 1;
    }
    out += key_file_suffix;
    file = std::move(out);
    return 0;
}

std::string reg_format(std::string_view key_path, const reg_entries& values) {
    std::string out = "# ";
    escape_into(out, key_path, false);
    out.push_back('\n');
    for (const auto& [name, value] : values) {
        if (value.type == reg_type::u32) {
            out += "u32 ";
            escape_into(out, name, true);
            out.push_back('=');
            out += std::to_string(value.number);
        } else if (value.type == reg_type::text) {
            out += "text ";
            escape_into(out, name, true);
            out.push_back('=');
            escape_into(out, value.text, false);
        } else {
            continue;
        }
        out.push_back('\n');
    }
    return out;
}

reg_entries reg_parse(std::string_view text) {
    reg_entries out;
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() == '#') continue;
        std::string name;
        reg_value value;
        if (!parse_line(line, name, value)) continue;
        bool replaced = false;
        for (auto& entry : out) {
            if (same_name(entry.first, name)) {
                entry.second = std::move(value);
                replaced = true;
                break;
            }
        }
        if (!replaced) out.emplace_back(std::move(name), std::move(value));
    }
    return out;
}

uint32_t reg_store_key::open(const reg_root& root, std::string_view key_path, bool create,
                             bool* created) {
    close();
    if (created) *created = false;
    std::string folder = root.folder.empty() ? reg_user_folder() : root.folder;
    if (folder.empty()) return ENOENT;
    if (folder.front() != '/') return EINVAL;
    std::string file;
    if (uint32_t rc = reg_key_file(folder, key_path, file)) return rc;

    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    } else {
        if (errno != ENOENT || !create) return err();
        if (uint32_t rc = make_folders(parent_of(file))) return rc;
        unique_fd fd(::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
        if (fd.get() < 0) {
            if (errno != EEXIST) return err();
            if (::stat(file.c_str(), &st) != 0) return err();
            if (!S_ISREG(st.st_mode)) return EISDIR;
        } else {
            if (::fchmod(fd.get(), 0600) != 0) return err();
            if (created) *created = true;
        }
    }
    file_ = std::move(file);
    key_path_ = std::string(key_path);
    return 0;
}

void reg_store_key::close() {
    file_.clear();
    key_path_.clear();
}

uint32_t reg_store_key::read_all(reg_entries& out) const {
    out.clear();
    if (!is_open()) return EBADF;
    unique_fd fd(::open(file_.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return err();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return err();
    if (!S_ISREG(st.st_mode)) return EINVAL;
    if (static_cast<uint64_t>(st.st_size) > reg_max_file_size) return EFBIG;
    std::string data;
    char buf[8192];
    while (true) {
        ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return err();
        }
        if (n == 0) break;
        data.append(buf, static_cast<std::size_t>(n));
        if (data.size() > reg_max_file_size) return EFBIG;
    }
    out = reg_parse(data);
    return 0;
}

uint32_t reg_store_key::query(std::string_view name, reg_value& out) const {
    reg_entries values;
    if (uint32_t rc = read_all(values)) return rc;
    for (auto& [n, v] : values) {
        if (same_name(n, name)) {
            out = std::move(v);
            return 0;
        }
    }
    return ENOENT;
}

uint32_t reg_store_key::write_all(const reg_entries& values) const {
    std::string data = reg_format(key_path_, values);
    std::string tmpl = file_ + ".XXXXXX";
    unique_fd fd(::mkostemp(tmpl.data(), O_CLOEXEC));
    if (fd.get() < 0) return err();
    uint32_t rc = 0;
    if (::fchmod(fd.get(), 0600) != 0) rc = err();
    if (!rc) rc = write_fully(fd.get(), data);
    if (!rc && ::fsync(fd.get()) != 0) rc = err();
    if (!rc && fd.close() != 0) rc = err();
    if (!rc && ::rename(tmpl.c_str(), file_.c_str()) != 0) rc = err();
    if (rc) {
        fd.reset();
        ::unlink(tmpl.c_str());
        return rc;
    }
    unique_fd dir(::open(parent_of(file_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) ::fsync(dir.get());
    return 0;
}

namespace {

// Holds the process lock and the folder's flock for one change of a key file.
class change_lock {
public:
    explicit change_lock(const std::string& file)
        : guard_(g_write_mutex),
          dir_(::open(parent_of(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (dir_.get() >= 0) {
            while (::flock(dir_.get(), LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }

private:
    std::lock_guard<std::mutex> guard_;
    unique_fd dir_;  // closing it drops the flock
};

}  // namespace

uint32_t reg_store_key::set(std::string_view name, const reg_value& value) {
    if (!is_open()) return EBADF;
    if (value.type != reg_type::u32 && value.type != reg_type::text) return EINVAL;
    if (value.type == reg_type::text && value.text.find('\0') != std::string::npos) return EINVAL;
    change_lock lock(file_);
    reg_entries values;
    uint32_t rc = read_all(values);
    if (rc && rc != ENOENT) return rc;
    bool replaced = false;
    for (auto& [n, v] : values) {
        if (same_name(n, name)) {
            v = value;
            replaced = true;
            break;
        }
    }
    if (!replaced) values.emplace_back(std::string(name), value);
    return write_all(values);
}

uint32_t reg_store_key::erase(std::string_view name) {
    if (!is_open()) return EBADF;
    change_lock lock(file_);
    reg_entries values;
    if (uint32_t rc = read_all(values)) return rc;
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (same_name(it->first, name)) {
            values.erase(it);
            return write_all(values);
        }
    }
    return ENOENT;
}

}  // namespace plat
