// The CSV back end: a folder of CSV files seen as a database (csv_engine)
// and one CSV file seen as a recordset (csv_file).
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "csv_in.h"
#include "csv_out.h"
#include "csv_rec.h"
#include "udb_recordset.h"

// One folder whose ".csv" files are its tables. The list of tables is a
// snapshot taken by the constructor; deleting a file does not change it.
class csv_engine {
public:
    // Lists the folder's regular files and links whose names end with ".csv"
    // in any case (links are listed, never followed), and apart from them the
    // part files ("*.csv.part") that tables which did not complete left. A
    // folder that may not be read throws tk_exception_ex (level 1) naming
    // it; one that cannot be listed otherwise raises the assertion (level 2).
    csv_engine(const std::wstring& folder, const std::wstring& prefix);
    ~csv_engine();
    csv_engine(const csv_engine&) = delete;
    csv_engine& operator=(const csv_engine&) = delete;

    // Whether the listing holds a table of that name, ignoring case.
    bool is_table_exist(const std::wstring& name) const;
    // folder + "/" + [prefix + "_"] + name, the name part lower-cased (A to Z)
    // and ".csv" added unless the name ends with it in any case. The folder
    // stays as given.
    std::wstring get_full_file_name(const std::wstring& name) const;
    // Deletes the table's file: the listed file(s) of that name as they are
    // spelled on disk, else the file get_full_file_name names. A link is
    // deleted itself, never what it points to. A listed file that is gone
    // already is no error; a name neither listed nor on disk raises the
    // assertion (level 2); a failed delete throws tk_exception_ex (level 1)
    // naming the file. Answers true.
    bool delete_tab(const std::wstring& name);
    // After a new file of the table took the place of its listed file(s):
    // deletes the listed spellings other than the new file's (kept, a native
    // path in the folder), as delete_tab deletes them.
    void delete_replaced(const std::wstring& name, const std::string& kept);
    // Deletes the file of every listed table, in list order; the first
    // failure ends the loop by its exception.
    void delete_all_tables();
    // Deletes the listed part files, like delete_all_tables.
    void delete_part_files();

    // Table names (file names lower-cased, extension taken off), sorted.
    const std::vector<std::wstring>& get_table_names() const { return table_names_; }
    const std::wstring& get_folder() const { return folder_; }

private:
    void delete_file(const std::string& native_path);

    std::wstring folder_;
    std::wstring prefix_;
    std::vector<std::wstring> table_names_;
    std::vector<std::string> files_;  // native path of each listed table
    std::vector<std::string> part_files_;  // native paths of "*.csv.part" entries
    std::unordered_multimap<std::wstring, size_t> by_name_;  // folded name -> position
};

// One CSV file as a recordset. Writing: UTF-8 with byte-order mark, an
// optional header line of field names, one line per appended record ending in
// CR LF, fields split by the delimiter and quoted by the field rule. Output is
// buffered in large blocks; close() writes the rest and reports any failure.
// Reading: record by record, by the same rules.
class csv_file : public udb_recordset {
public:
    struct for_reading_t {};
    static constexpr for_reading_t for_reading{};

    // Where a new file's bytes go: straight to its name, or to its name and
    // ".part" until complete() gives it its name (the conversion run, so
    // that a table that did not complete never looks complete).
    enum class target { final_name, part_file };

    // Creates or empties the file and writes the byte-order mark. The
    // delimiter is an entry of the delimiter table (not copied; it must
    // outlive the file). A link in the file's place is never followed. A file
    // that cannot be opened throws tk_exception_ex (level 1) "Error opening
    // CSV file ", the path, ": " and the system's text.
    csv_file(const std::wstring& path, const wchar_t* delimiter, target where = target::final_name);
    // The same, then the header line: the names of the schema's descriptors.
    csv_file(const std::wstring& path, const wchar_t* delimiter, const udb_schema& schema,
             target where = target::final_name);
    // Writes the header line: the names of the schema's descriptors. For a
    // file built without one, before any record.
    void write_header(const udb_schema& schema);
    // Opens an existing file for reading.
    csv_file(for_reading_t, const std::wstring& path, const wchar_t* delimiter);
    // Closes the file; a failure here is only logged: call close() to know.
    ~csv_file() override;

    // Writes one record as one line, whole or not at all. Throws
    // tk_exception_ex (level 1) when a block cannot be written; after that
    // the file is incomplete and every later call throws at level 0.
    void append_record(const udb_record& record) override;
    // Writes every pending byte and closes the file. Throws tk_exception_ex
    // (level 1) on a failed write or close that was not reported before.
    void close();
    // close(), then a part file gets its final name. Throws like close() or
    // when the rename fails.
    void complete();
    // A part file that is not complete is given up: closed and removed (see
    // csv_output::discard).
    void discard() noexcept;
    // The file being written: the part file until complete().
    const std::string& output_path() const { return out_.path(); }

    // Reading side ---------------------------------------------------------
    // The text of the next record (without its line end; line breaks inside
    // quotes kept); empty at the end of the file.
    std::wstring get_line();
    void next() override;
    bool is_eof() override;
    // The current line as a record, owned by the file until the next call.
    csv_record* get_record() override;
    // Back to the first record; call next() afterwards.
    void reset() override;
    // Not supported: raises the assertion.
    void prev() override;

    const std::wstring& get_current_line() const { return line_; }
    const wchar_t* get_delimiter() const { return delim_; }

private:
    void set_delimiter(const wchar_t* delimiter);
    void open_for_writing(const std::wstring& path, target where);
    void write_csv_field(std::string& line, const std::wstring& value);
    // The cells of append_record. general: any delimiter, and the log.
    template <bool general>
    void append_cells(const udb_record& record, bool log1);
    // A cell's text form, quoted when it needs quotes.
    void append_cell_text(const udb_field& field, std::string& line) const;
    // A cell that is not written in place: appended to line, or (false) left
    // to write_line_in_parts when it is large (at: where it goes in the buffer).
    bool append_other_cell(const udb_field& field, std::string& line, size_t at);
    // A cell too large to be built whole in the line: written in parts.
    bool cell_in_parts(const udb_field& field) const;
    // Writes the record's line from mark on, with its large cells (parts_)
    // put in their places in bounded pieces.
    void write_line_in_parts(size_t mark);
    void write_cell_in_parts(const udb_field& field);

    // A large cell of the line being written: where it goes, and its field.
    struct cell_part {
        size_t at;
        const udb_field* field;
    };
    std::vector<cell_part> parts_;
    std::string tail_;  // the line after its mark while large cells are written
    std::string cell_;  // a cell not written in place, before it is copied in

    std::wstring line_;
    csv_input in_;
    csv_output out_;
    const wchar_t* delim_ = nullptr;
    std::string delim_utf8_;
    bool plain_safe_ = false;  // texts other than strings never need quotes
    uint64_t delim_word_ = 0;  // the delimiter's first bytes, zeros after it
    std::wstring delim_wide_;
    std::unique_ptr<csv_record> record_;
    std::string raw_;  // the current record's bytes, reused
    bool eof_ = true;
};
