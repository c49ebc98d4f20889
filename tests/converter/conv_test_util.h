// Helpers of the converter tests: temporary folders, file contents, the
// recording error handler and a converter connected to the test server.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_files.h"
#include "error_handler.h"
#include "kvr_conv.h"
#include "test_server.h"
#include "tk_excep.h"
#include "tk_utils.h"

namespace conv_test {

// One call of error_handler::handle, as recording_handler recorded it.
struct handled_call {
    uint32_t level;
    std::string text;
    std::string context;
    bool no_abort;
    uint32_t code = 0;
};

// The converter tests' error handler: each call is recorded and nothing
// ends the process, so tests can see every report.
class recording_handler : public error_handler {
public:
    recording_handler() = default;
    void handle(const tk_exception& e, bool no_abort) override;
};

// Every call since the last clear (the run may report from another thread).
std::vector<handled_call> handled_calls();
void clear_handled_calls();
// Called by each report after it was recorded, on the reporting thread,
// until it is set back to an empty one.
void set_handle_hook(std::function<void()> hook);

// A folder under /tmp, removed with its contents at the end.
class temp_dir {
public:
    temp_dir() {
        char tmpl[] = "/tmp/fn-conv.XXXXXX";
        const char* dir = ::mkdtemp(tmpl);
        if (!dir) ADD_FAILURE() << "mkdtemp failed";
        path_ = dir ? dir : "/tmp";
    }
    ~temp_dir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::string& path() const { return path_; }
    std::wstring wpath() const { return tk_from_utf8(path_); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

using fennrow_test::read_file;

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The folder's entries: name -> contents (regular files only).
inline std::map<std::string, std::string> folder_contents(const std::string& dir) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.is_regular_file()) out[e.path().filename().string()] = read_file(e.path().string());
    return out;
}

// An expected file of tests/data/converter.
inline std::string expected(const std::string& name) {
    const std::string path = std::string(FENNROW_TEST_DATA) + "/converter/" + name;
    if (!exists(path)) ADD_FAILURE() << "missing expected file " << path;
    return read_file(path);
}

// The client's option files are read from HOME: an empty folder.
inline void use_empty_home() {
    static const bool done = [] {
        char tmpl[] = "/tmp/fn-conv-home.XXXXXX";
        if (const char* dir = ::mkdtemp(tmpl)) ::setenv("HOME", dir, 1);
        return true;
    }();
    (void)done;
}

// The recording error handler and a console converter connected to the
// test server; the recorded handler calls are cleared.
struct connected {
    connected() : conv(kellvar_program::console, handler) {
        use_empty_home();
        clear_handled_calls();
        const fennrow_test::test_server s = fennrow_test::require_test_server();
        conv.store_mysql_settings(s.host, s.user, s.password, std::to_string(s.port));
        conv.connect_mysql_server();
    }
    recording_handler handler;
    kellvar_converter conv;
};

// Aims the converter at the database and the folder, with commas between
// fields and a line of column names first.
inline void aim(kellvar_converter& conv, const std::string& database, const temp_dir& out) {
    conv.source = tk_from_utf8(database);
    conv.destination = out.wpath();
    conv.delimiter_index = 2;
    conv.include_field_names = true;
}

}  // namespace conv_test
