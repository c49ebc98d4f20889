#include "sql_opt_files.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "unique_file.h"

namespace {

// The library stops following includes this deep.
constexpr unsigned include_depth = 64;
// It reads a file in lines of at most this many bytes.
constexpr int line_size = 4095;

struct dir_close {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using unique_dir = std::unique_ptr<DIR, dir_close>;

bool space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string dashed(std::string text) {
    std::replace(text.begin(), text.end(), '_', '-');
    return text;
}

std::string trim_end(std::string text) {
    while (!text.empty() && space(text.back())) text.pop_back();
    return text;
}

bool readable(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

bool ends_with(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class option_reader {
public:
    option_reader(const std::vector<std::string>& keys, const std::string& group)
        : groups_{"client", "client-server", "client-mariadb", group} {
        for (const std::string& key : keys) keys_.push_back(dashed(key));
    }

    void read(const std::string& path, unsigned depth) {
        if (depth >= include_depth) return;
        plat::unique_file file(std::fopen(path.c_str(), "r"));
        if (!file) return;
        bool found_group = false;
        bool wanted_group = false;
        bool escaped = false;
        char buffer[line_size + 1];
        while (std::fgets(buffer, line_size, file.get())) {
            const char* p = buffer;
            while (space(*p)) ++p;
            if (!escaped && (*p == '"' || *p == '\'')) continue;
            if (*p == '!') {
                if (!include(p + 1, depth)) return;
                continue;
            }
            if (*p == '#' || *p == ';' || *p == '\0') continue;
            escaped = *p == '\\';
            if (*p == '[') {
                const char* end = std::strchr(p + 1, ']');
                if (!end) return;
                found_group = true;
                const std::string name = trim_end(std::string(p + 1, end));
                wanted_group = std::find(groups_.begin(), groups_.end(), name) != groups_.end();
                continue;
            }
            if (!found_group) return;
            if (wanted_group) take(path, p);
        }
    }

    std::vector<sql_option_line> lines;

private:
    // "!include FILE" and "!includedir DIR"; false when the library stops
    // reading the file here.
    bool include(const char* directive, unsigned depth) {
        const char* blank = std::strchr(directive, ' ');
        if (!blank) return true;
        const std::string what(directive, blank);
        const std::string target = trim_end(blank + 1);
        if (what == "include") {
            read(target, depth + 1);
        } else if (what == "includedir") {
            unique_dir dir(::opendir(target.c_str()));
            if (!dir) return false;
            while (const dirent* entry = ::readdir(dir.get())) {
                const std::string path = target + "/" + entry->d_name;
                if (readable(path) && ends_with(path, ".cnf")) read(path, depth + 1);
            }
        }
        return true;
    }

    void take(const std::string& path, const char* line) {
        const char* equals = std::strchr(line, '=');
        if (!equals) {
            // The library matches the line as it stands, its line end included.
            const std::string key = dashed(trim_end(line));
            if (!is_key(key)) return;
            lines.push_back({path, key, std::nullopt, dashed(line) == key});
            return;
        }
        const std::string key = dashed(trim_end(std::string(line, equals)));
        if (!is_key(key)) return;
        const char* v = equals + 1;
        while (space(*v)) ++v;
        std::string value = trim_end(v);
        if (!value.empty() && (value.front() == '\'' || value.front() == '"')) {
            value.erase(0, 1);
            if (!value.empty() && (value.back() == '\'' || value.back() == '"')) value.pop_back();
        }
        lines.push_back({path, key, std::move(value), true});
    }

    bool is_key(const std::string& key) const { return std::find(keys_.begin(), keys_.end(), key) != keys_.end(); }

    std::vector<std::string> keys_;
    std::vector<std::string> groups_;
};

}  // namespace

std::vector<sql_option_line> sql_find_option(const std::vector<std::string>& keys, const std::string& group) {
    std::vector<std::string> dirs{"/etc", "/etc/mysql"};
    const char* home_dir = std::getenv("MARIADB_HOME");
    if (!home_dir) home_dir = std::getenv("MYSQL_HOME");
    if (home_dir && std::find(dirs.begin(), dirs.end(), home_dir) == dirs.end()) dirs.emplace_back(home_dir);

    option_reader reader(keys, group);
    for (const std::string& dir : dirs) {
        const std::string path = dir + "/my.cnf";
        if (readable(path)) reader.read(path, 0);
    }
    if (const char* home = std::getenv("HOME")) {
        const std::string path = std::string(home) + "/.my.cnf";
        if (readable(path)) reader.read(path, 0);
    }
    return std::move(reader.lines);
}
