// Buffered output file of the CSV writer. Callers append whole lines to the
// buffer and commit them; bytes reach the file in large blocks, and every
// write and the close are checked.
#pragma once
#include <string>

#include "unique_fd.h"

// The ending of a file written under a temporary name until it is whole.
inline constexpr const char csv_part_suffix[] = ".part";

class csv_output {
public:
    static constexpr size_t block_size = 1 << 20;

    csv_output();
    // Closes without reporting: callers that need to know call close() first.
    ~csv_output();
    csv_output(const csv_output&) = delete;
    csv_output& operator=(const csv_output&) = delete;

    // Creates or empties the file; a link in its place is never followed.
    // Throws tk_exception_ex (level 1) with "Error opening CSV file ", the
    // path, ": " and the system's text.
    void open(const std::wstring& path);
    // The same for a file that gets its name only when it is whole: the
    // bytes go to path + ".part" (an earlier one of that name is replaced),
    // and complete() renames it to path.
    void open_partial(const std::wstring& path);
    // The file being written (the part file until complete()).
    const std::string& path() const { return path_; }
    bool is_open() const { return static_cast<bool>(fd_); }
    // A write failed: the file is incomplete.
    bool failed() const { return failed_; }

    // Pending bytes; append to it, then commit() (or drop what was appended).
    std::string& buffer() { return buf_; }
    // Writes the buffer out once it holds a block.
    void commit() {
        if (buf_.size() >= block_size) flush();
    }
    // Writes every pending byte. Throws tk_exception_ex (level 1) on failure.
    void flush();
    // Flushes and closes; throws on a failed write or close. Idempotent.
    // A part file keeps its part name.
    void close();
    // Flushes, closes and gives a part file its final name (which replaces
    // a file or link of that name). Throws like close(), or when the rename
    // fails; the part file then stays.
    void complete();
    // Gives up a part file that is not complete: its pending bytes are
    // dropped, it is closed and removed. Other files are only closed.
    // Failures are only logged.
    void discard() noexcept;

private:
    void open_native(int flags);
    // Opens path_; false (errno set) when it cannot.
    bool try_open_native(int flags);
    // Throws the failure of the last open.
    [[noreturn]] void open_failed();
    void write_all(const char* data, size_t size);
    void close_fd();

    plat::unique_fd fd_;
    std::string path_;        // native path of the file written
    std::string final_path_;  // the name a part file gets; empty otherwise
    bool failed_ = false;
    std::string buf_;
};
