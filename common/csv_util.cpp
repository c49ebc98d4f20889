#include "csv_util.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "csv_format.h"
#include "last_error.h"
#include "text.h"
#include "tk_excep.h"
#include "tk_files.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_vali.h"
#include "utf8.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* csv_util_source = "common/csv_util";

bool ends_with_csv(const std::string& name) {
    if (name.size() < csv_extension_len) return false;
    for (size_t k = 0; k < csv_extension_len; ++k) {
        char c = name[name.size() - csv_extension_len + k];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != static_cast<char>(csv_extension[k])) return false;
    }
    return true;
}

// The name is a CSV file name (".csv" in any case) followed by ".part": a
// file left by a table that did not complete.
bool ends_with_csv_part(const std::string& name) {
    constexpr size_t part_len = sizeof csv_part_suffix - 1;
    if (name.size() < part_len + csv_extension_len) return false;
    if (!name.ends_with(csv_part_suffix)) return false;
    return ends_with_csv(name.substr(0, name.size() - part_len));
}

// An entry of the folder itself (a link is an entry, never followed).
bool is_existing_file(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

csv_engine::csv_engine(const std::wstring& folder, const std::wstring& prefix) : folder_(folder), prefix_(prefix) {
    if (tk_log_wants(2)) tk_wlog(2, L"csv_engine::ctor(%s,%s)", folder_.c_str(), prefix_.c_str());
    const fs::path dir = folder_.empty() ? fs::path(".") : fs::path(plat::utf8_encode(folder_));
    std::error_code ec;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        tk_log(3, "Cannot list folder %s: %s", dir.c_str(), ec.message().c_str());
        // A folder that is there but may not be read is the user's to mend.
        if (ec.value() == EACCES || ec.value() == EPERM) {
            plat::set_last_error(static_cast<uint32_t>(ec.value()));
            throw tk_exception_ex("Cannot read the folder " + dir.native() + ": ", 1);
        }
        throw tk_mail_assertion(csv_util_source, 475);
    }
    struct entry {
        std::wstring name;
        std::string path;
    };
    std::vector<entry> found;
    for (const fs::directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const std::string file = it->path().filename().native();
        // Regular files and links (never followed) count; folders and the
        // like are no tables.
        std::error_code type_ec;
        const fs::file_type type = it->symlink_status(type_ec).type();
        if (type != fs::file_type::regular && type != fs::file_type::symlink) continue;
        if (ends_with_csv_part(file)) {
            part_files_.push_back(it->path().native());
            continue;
        }
        if (!ends_with_csv(file)) continue;
        std::wstring name = plat::utf8_decode(std::string_view(file).substr(0, file.size() - csv_extension_len));
        for (auto& c : name) c = plat::ascii_lower(c);
        found.push_back({std::move(name), it->path().native()});
    }
    if (ec) {
        tk_log(3, "Listing folder %s failed: %s", dir.c_str(), ec.message().c_str());
        throw tk_mail_assertion(csv_util_source, 475);
    }
    std::sort(part_files_.begin(), part_files_.end());
    std::sort(found.begin(), found.end(), [](const entry& a, const entry& b) {
        return a.name != b.name ? a.name < b.name : a.path < b.path;
    });
    table_names_.reserve(found.size());
    files_.reserve(found.size());
    for (auto& e : found) {
        by_name_.emplace(udb_validator::fold_name(e.name), table_names_.size());
        table_names_.push_back(std::move(e.name));
        files_.push_back(std::move(e.path));
    }
}

csv_engine::~csv_engine() = default;

bool csv_engine::is_table_exist(const std::wstring& name) const {
    if (tk_log_wants(1)) tk_wlog(1, L"csv_engine::is_table_exist(%s)", name.c_str());
    if (by_name_.count(udb_validator::fold_name(name))) {
        tk_log(1, "table exists");
        return true;
    }
    tk_log(1, "table not found");
    return false;
}

std::wstring csv_engine::get_full_file_name(const std::wstring& name) const {
    if (tk_log_wants(1)) tk_wlog(1, L"csv_engine::get_full_file_name(%s)", name.c_str());
    constexpr std::wstring_view extension(csv_extension, csv_extension_len);
    // Built in place: the folder, then the file's name in lower case.
    std::wstring result;
    result.reserve(folder_.size() + prefix_.size() + name.size() + extension.size() + 2);
    result = folder_;
    if (!result.empty() && result.back() != L'/') result += L'/';
    const size_t file = result.size();
    if (!prefix_.empty()) {
        result += prefix_;
        result += L'_';
    }
    result += name;
    for (size_t i = file; i < result.size(); ++i) result[i] = plat::ascii_lower(result[i]);
    const std::wstring_view file_name = std::wstring_view(result).substr(file);
    if (file_name.size() < extension.size() ||
        !plat::equal_nocase(file_name.substr(file_name.size() - extension.size()), extension))
        result += extension;
    return result;
}

void csv_engine::delete_file(const std::string& native_path) {
    // A link goes itself; what it points to is never touched.
    if (::unlink(native_path.c_str()) != 0) {
        if (errno == ENOENT) {
            // Gone since the listing (deleted by someone else): nothing to do.
            tk_log(2, "CSV file %s is already gone", native_path.c_str());
            return;
        }
        plat::set_last_error_from_errno();
        throw tk_exception_ex("Cannot delete " + native_path + ": ", 1);
    }
}

bool csv_engine::delete_tab(const std::wstring& name) {
    if (tk_log_wants(1)) tk_wlog(1, L"csv_engine::delete_tab(%s)", name.c_str());
    auto range = by_name_.equal_range(udb_validator::fold_name(name));
    if (range.first == range.second) {
        const std::string path = plat::utf8_encode(get_full_file_name(name));
        if (!is_existing_file(path)) {
            tk_log(3, "CSV file %s does not exist", path.c_str());
            throw tk_mail_assertion(csv_util_source, 497);
        }
        delete_file(path);
        return true;
    }
    // Every listed spelling of the table, in list order.
    std::vector<size_t> positions;
    for (auto it = range.first; it != range.second; ++it) positions.push_back(it->second);
    std::sort(positions.begin(), positions.end());
    for (size_t pos : positions) delete_file(files_[pos]);
    return true;
}

void csv_engine::delete_replaced(const std::wstring& name, const std::string& kept) {
    if (tk_log_wants(1)) tk_wlog(1, L"csv_engine::delete_replaced(%s)", name.c_str());
    const fs::path kept_name = fs::path(kept).filename();
    auto range = by_name_.equal_range(udb_validator::fold_name(name));
    std::vector<size_t> positions;
    for (auto it = range.first; it != range.second; ++it)
        if (fs::path(files_[it->second]).filename() != kept_name) positions.push_back(it->second);
    std::sort(positions.begin(), positions.end());
    for (size_t pos : positions) delete_file(files_[pos]);
}

void csv_engine::delete_all_tables() {
    tk_log(2, "csv_engine::delete_all_tables");
    for (size_t i = 0; i < files_.size(); ++i) {
        if (tk_log_wants(1)) tk_wlog(1, L"csv_engine::delete_tab(%s)", table_names_[i].c_str());
        delete_file(files_[i]);
    }
}

void csv_engine::delete_part_files() {
    tk_log(2, "csv_engine::delete_part_files");
    for (const std::string& path : part_files_) delete_file(path);
}

// csv_file ------------------------------------------------------------------

void csv_file::set_delimiter(const wchar_t* delimiter) {
    // The field rule and the reader rely on an ASCII delimiter that holds no
    // quote and no line break.
    bool ok = delimiter && *delimiter;
    for (const wchar_t* p = delimiter; ok && *p; ++p)
        if (*p >= 0x80 || *p == L'"' || *p == L'\r' || *p == L'\n') ok = false;
    if (!ok) throw tk_exception(std::string("Invalid CSV delimiter"), 1);
    delim_ = delimiter;
    delim_wide_ = delimiter;
    delim_utf8_ = plat::utf8_encode(delim_wide_);
    plain_safe_ = csv_plain_text_is_safe(delim_utf8_);
    delim_word_ = 0;
    std::memcpy(&delim_word_, delim_utf8_.data(), std::min(delim_utf8_.size(), sizeof delim_word_));
}

void csv_file::open_for_writing(const std::wstring& path, target where) {
    if (where == target::part_file)
        out_.open_partial(path);
    else
        out_.open(path);
    out_.append(std::string_view(csv_bom, csv_bom_len));
}

csv_file::csv_file(const std::wstring& path, const wchar_t* delimiter, target where)
    : udb_recordset(std::wstring()) {
    tk_log(2, "csv_file::ctor for writing without field names");
    set_delimiter(delimiter);
    open_for_writing(path, where);
}

csv_file::csv_file(const std::wstring& path, const wchar_t* delimiter, const udb_schema& schema, target where)
    : udb_recordset(std::wstring()) {
    tk_log(2, "csv_file::ctor for writing with field names");
    set_delimiter(delimiter);
    open_for_writing(path, where);
    write_header(schema);
}

void csv_file::write_header(const udb_schema& schema) {
    // Built apart and copied in, so that the room of the buffer stays.
    std::string& line = cell_;
    line.clear();
    for (size_t i = 0; i < schema.size(); ++i) {
        if (i > 0) line += delim_utf8_;
        const t_ftd* d = schema[i];
        if (d) write_csv_field(line, d->name);
    }
    line += csv_line_end;
    out_.append(line);
    out_.commit();
}

csv_file::csv_file(for_reading_t, const std::wstring& path, const wchar_t* delimiter) : udb_recordset(std::wstring()) {
    tk_log(2, "csv_file::ctor for reading");
    set_delimiter(delimiter);
    in_.open(path);
    eof_ = false;
}

csv_file::~csv_file() = default;

void csv_file::write_csv_field(std::string& line, const std::wstring& value) {
    if (tk_log_wants(1)) tk_wlog(1, L"csv_file::write_csv_field(%s)", value.c_str());
    csv_append_field(line, value, delim_utf8_);
}

namespace {
// Cells from this size on are written in parts; the pieces are of this size.
constexpr size_t part_threshold = csv_output::block_size / 4;
constexpr size_t part_size = 64u << 10;

}  // namespace

void csv_file::append_record(const udb_record& record) {
    const bool log1 = tk_log_wants(1);
    if (log1) tk_log(1, "csv_file::append_record");
    if (out_.failed()) throw tk_exception(std::string("Error writing CSV file: the file is incomplete"), 0);
    if (!out_.is_open()) throw tk_exception(std::string("Error opening CSV file"), 1);
    parts_.clear();
    const size_t mark = out_.pending();
    try {
        if (log1 || delim_utf8_.size() > sizeof delim_word_) append_cells<true>(record, log1);
        else append_cells<false>(record, false);
    } catch (...) {
        out_.truncate(mark);  // no half line
        throw;
    }
    // Nothing can fail from here on but a write, which leaves the file
    // incomplete anyway.
    if (!parts_.empty()) write_line_in_parts(mark);
    out_.commit();
}

template <bool general>
void csv_file::append_cells(const udb_record& record, bool log1) {
    // Decided once: bytes written to the line could otherwise be taken for
    // changes to the delimiter.
    const std::string_view delim = delim_utf8_;
    const size_t delim_size = delim.size();
    const char d0 = delim[0];
    const uint64_t delim_word = delim_word_;
    const bool plain_safe = plain_safe_;
    // Every cell is followed by the delimiter (here as a whole word of
    // bytes); the last one gives way to the line end.
    const size_t delim_room = general ? delim_size : sizeof delim_word;
    const size_t need = ole_variant::short_cell_room + delim_room;
    // Short cells are written in place: p is where the line written so far
    // ends, end where the room after it ends.
    char* p = out_.place(need);
    char* end = out_.place_end();
    auto room = [&](size_t n) {
        if (static_cast<size_t>(end - p) < n) {
            out_.placed(p);
            p = out_.place(n);
            end = out_.place_end();
        }
    };
    // The buffer as a string, for the log.
    auto line = [&]() -> std::string& {
        out_.placed(p);
        return out_.buffer();
    };
    auto resume = [&]() {
        p = out_.place(need);
        end = out_.place_end();
    };
    // Other cells are built apart and copied in, so that the room stays.
    auto scratch = [&]() -> std::string& {
        cell_.clear();
        return cell_;
    };
    auto put = [&](const std::string& s) {
        room(s.size() + need);
        std::memcpy(p, s.data(), s.size());
        p += s.size();
        if (s.capacity() > part_threshold) std::string().swap(cell_);
    };
    for (const udb_field* f : record) {
        room(need);
        if (f) {
            [[maybe_unused]] const VARTYPE t = f->get_type();  // a field may fail here (its conversion)
            [[maybe_unused]] size_t at = 0;
            if constexpr (general) at = out_.offset(p);
            bool whole = true;  // false: written in parts once the line is whole
            const std::string_view received = f->unchecked_utf8();
            char* o;
            if (received.data() && received.size() < part_threshold) {
                // A text as received: a plain one copied as it is, others
                // checked, copied and quoted in one pass.
                const size_t n = received.size();
                if (n > ole_variant::short_cell_room) room(n + delim_room);
                if (n == 0) {
                } else if (csv_copy_plain(p, received, d0)) {
                    p += n;
                } else {
                    std::string& s = scratch();
                    if (!csv_append_checked_field(s, received, delim)) append_cell_text(*f, s);
                    put(s);
                }
            } else if (plain_safe && (o = f->put_short_cell(p)) != nullptr) {
                // Numbers and dates never need quotes with this delimiter.
                p = o;
            } else {
                std::string& s = scratch();
                whole = append_other_cell(*f, s, out_.offset(p));
                put(s);
            }
            if constexpr (general) {
                if (log1 && whole) {
                    const std::string& s = line();
                    if (t == VT_R4 || t == VT_R8 || t == VT_CY || t == VT_DECIMAL)
                        tk_log(1, "Got floating point number");
                    tk_log(1, "csv_file::write_csv_field(%s)", s.c_str() + at);
                    resume();
                }
            }
        }
        if constexpr (general) {
            p = std::copy(delim.begin(), delim.end(), p);
        } else {
            std::memcpy(p, &delim_word, sizeof delim_word);
            p += delim_size;
        }
    }
    if (!record.empty()) p -= delim_size;
    room(2);
    std::memcpy(p, csv_line_end, 2);
    out_.placed(p + 2);
}

void csv_file::append_cell_text(const udb_field& field, std::string& line) const {
    // Every type's text form, numbers included, is exact and locale-free;
    // texts are written whole, dates and decimals in their column's form.
    const size_t start = line.size();
    field.append_utf8_cell(line);
    // Only strings can hold a quote, a line break or the delimiter.
    if (!plain_safe_ || field.type() == VT_BSTR) csv_quote_field(line, start, delim_utf8_);
}

bool csv_file::append_other_cell(const udb_field& field, std::string& line, size_t at) {
    std::string_view received = field.unchecked_utf8();
    const VARTYPE vt = field.type();
    if (vt == VT_BSTR || vt == VT_BYTE_ARRAY || vt == VT_BLOB || vt == VT_BLOB_OBJECT) {
        if (cell_in_parts(field)) {
            // Written once the rest of the line is whole.
            parts_.push_back({at, &field});
            return false;
        }
        received = field.unchecked_utf8();  // the check may have taken it
    }
    if (!received.data() || !csv_append_checked_field(line, received, delim_utf8_)) append_cell_text(field, line);
    return true;
}

bool csv_file::cell_in_parts(const udb_field& field) const {
    // A text is checked here only when it is large.
    const std::string_view received = field.unchecked_utf8();
    if (received.data()) return received.size() >= part_threshold && field.held_utf8().size() >= part_threshold;
    if (field.held_utf8().size() >= part_threshold) return true;
    // Hex digits never need quotes when no plain text does.
    return plain_safe_ && field.hex_text_bytes() >= part_threshold / 2;
}

void csv_file::write_line_in_parts(size_t mark) {
    std::string& line = out_.buffer();
    tail_.assign(line, mark, std::string::npos);
    line.resize(mark);
    size_t done = 0;  // of tail_
    for (const cell_part& part : parts_) {
        const size_t at = part.at - mark;
        line.append(tail_, done, at - done);
        done = at;
        write_cell_in_parts(*part.field);
    }
    line.append(tail_, done, std::string::npos);
    tail_.clear();
    if (tail_.capacity() > part_threshold) std::string().swap(tail_);
}

void csv_file::write_cell_in_parts(const udb_field& field) {
    std::string& line = out_.buffer();
    const std::string_view text = field.held_utf8();
    if (text.empty()) {
        line += "0x";
        const size_t n = field.hex_text_bytes();
        for (size_t first = 0; first < n; first += part_size / 2) {
            field.append_hex_digits(line, first, part_size / 2);
            out_.commit();
        }
        return;
    }
    const bool quoted = csv_needs_quotes(text, delim_utf8_);
    if (quoted) line += '"';
    for (size_t first = 0; first < text.size(); first += part_size) {
        std::string_view piece = text.substr(first, part_size);
        if (quoted) {
            // Every double quote doubled.
            for (size_t q; (q = piece.find('"')) != std::string_view::npos; piece.remove_prefix(q + 1)) {
                line.append(piece.data(), q + 1);
                line += '"';
            }
        }
        line.append(piece);
        out_.commit();
    }
    if (quoted) line += '"';
}

void csv_file::close() {
    tk_log(2, "csv_file::close");
    out_.close();
    in_.close();
}

void csv_file::discard() noexcept {
    tk_log(2, "csv_file::discard");
    out_.discard();
    in_.close();
}

void csv_file::complete() {
    tk_log(2, "csv_file::complete");
    out_.complete();
    in_.close();
}

std::wstring csv_file::get_line() {
    if (tk_log_wants(1)) tk_log(1, "csv_file::get_line");
    std::wstring result;
    if (in_.read_record(raw_, delim_utf8_)) {
        plat::utf8_decode_append(result, raw_);
        eof_ = false;
    } else {
        eof_ = true;
    }
    if (tk_log_wants(1)) tk_wlog(1, L"result=%s", result.c_str());
    return result;
}

void csv_file::next() { line_ = get_line(); }

bool csv_file::is_eof() { return eof_ || !in_.is_open(); }

csv_record* csv_file::get_record() {
    record_.reset();
    record_ = std::make_unique<csv_record>(&schema_);
    record_->do_create(line_, delim_wide_);
    return record_.get();
}

void csv_file::reset() {
    tk_log(1, "csv_file::reset");
    in_.rewind();
    line_.clear();
    eof_ = !in_.is_open();
}

void csv_file::prev() { throw tk_mail_assertion(csv_util_source, 340); }
