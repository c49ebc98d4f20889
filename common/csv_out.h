// Buffered output file of the CSV writer. Callers append whole lines to the
// buffer and commit them; bytes reach the file in large blocks, and every
// write and the close are checked.
#pragma once
#include <string>
#include <string_view>

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
    std::string& buffer() {
        if (in_place_) settle();
        return buf_;
    }
    // How many bytes are pending.
    size_t pending() const { return in_place_ ? end_ : buf_.size(); }

    // Writing in place, without a std::string append per piece: place(need)
    // gives where the pending bytes end, with room for at least need bytes
    // after it up to place_end(). Bytes written there count once placed(p)
    // says where they end. The room is kept from line to line (buffer()
    // gives it up), so it is not filled anew for every line.
    char* place(size_t need) {
        if (!in_place_) begin_in_place();
        if (buf_.size() - end_ < need) grow(need);
        return buf_.data() + end_;
    }
    char* place_end() { return buf_.data() + buf_.size(); }
    // p: within the room that place() gave.
    void placed(const char* p) { end_ = static_cast<size_t>(p - buf_.data()); }
    // Where p is in the buffer.
    size_t offset(const char* p) const { return static_cast<size_t>(p - buf_.data()); }
    // Drops the pending bytes from size on.
    void truncate(size_t size) { buffer().resize(size); }
    // Appends bytes to the pending ones, in place.
    void append(std::string_view bytes) {
        char* p = place(bytes.size());
        bytes.copy(p, bytes.size());
        placed(p + bytes.size());
    }

    // Writes the buffer out once it holds a block.
    void commit() {
        if (pending() >= block_size) flush();
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
    void begin_in_place() {
        end_ = buf_.size();
        in_place_ = true;
    }
    // The buffer ends with its pending bytes again.
    void settle();
    void grow(size_t need);
    // The buffer of a file before, room and all, when this one has none.
    void take_spare();
    // Empties the buffer (keeping its room when in place).
    void drop_pending();

    plat::unique_fd fd_;
    std::string path_;        // native path of the file written
    std::string final_path_;  // the name a part file gets; empty otherwise
    bool failed_ = false;
    // The pending bytes; when in_place_ they end at end_ and the rest is room.
    std::string buf_;
    size_t end_ = 0;
    bool in_place_ = false;
    // The room that the next growth adds beyond what is asked for.
    static constexpr size_t min_room = 256;
    size_t room_ = min_room;
};
