// Helpers of the CSV back end tests: temporary folders and raw file bytes.
#pragma once
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace csv_test {

// A fresh folder under /tmp, removed with everything in it at the end.
class temp_dir {
public:
    temp_dir() {
        char tmpl[] = "/tmp/csv_test_XXXXXX";
        const char* p = ::mkdtemp(tmpl);
        if (p) path_ = p;
    }
    ~temp_dir() {
        if (path_.empty()) return;
        std::error_code ec;
        // Give write access back first so a test that removed it cleans up.
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::wstring wpath() const { return std::wstring(path_.begin(), path_.end()); }
    std::wstring wfile(const std::string& name) const {
        std::string f = file(name);
        return std::wstring(f.begin(), f.end());
    }

private:
    std::string path_;
};

inline std::string read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Switches LC_ALL to a locale with a decimal comma for one scope; false
// (and nothing changed) when no such locale is installed.
class comma_locale {
public:
    comma_locale() {
        const char* old = std::setlocale(LC_ALL, nullptr);
        saved_ = old ? old : "C";
        for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
            if (std::setlocale(LC_ALL, name)) {
                active_ = true;
                break;
            }
        }
    }
    ~comma_locale() {
        if (active_) std::setlocale(LC_ALL, saved_.c_str());
    }
    bool active() const { return active_; }

private:
    std::string saved_;
    bool active_ = false;
};

}  // namespace csv_test
