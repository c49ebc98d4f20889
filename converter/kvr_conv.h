// The converter: every setting of a conversion, the progress of the run and
// the run itself (operator()). Each program builds exactly one.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mysql_conv.h"
#include "sql_login.h"
#include "tk_atomic.h"
#include "tk_regk.h"
#include "tk_singl.h"
#include "udb_conv.h"

class csv_engine;
class csv_folder_lock;
class csv_validator;
class error_handler;
class sql_counter;
class sql_read_only_session;
class tk_exception;
class udb_database;
class udb_profile;
class udb_recordset;

inline constexpr const char* kellvar_registry_key = "Software\\Vantorel\\Fennrow";
inline constexpr const wchar_t* kellvar_section_csv = L"CSV settings";

// Which program builds the converter.
enum class kellvar_program {
    console,  // no registry; the console run (see console_run)
    gui       // settings loaded from the registry when built, stored when destroyed
};

class kellvar_converter : public udb_converter,
                          public mysql_converter_impl,
                          public tk_serializer,
                          public tk_singleton<kellvar_converter> {
public:
    // The handler reports every failure of the converter's runs; it is
    // built before the converter and outlives it.
    kellvar_converter(kellvar_program program, error_handler& handler);
    ~kellvar_converter() override;

    // The conversion run: every entry of table_queries (with selected_tables
    // appended) into one CSV file each. Throws nothing; done is true when it
    // returns. Runs on the caller's thread.
    void operator()() override;

    // Whether the source database accepts the query as a table's source;
    // the statement is prepared, never executed.
    bool check_query(const std::wstring& query) override;
    // The same; a refused query leaves the server's reason in reason. A
    // server that cannot be reached or stops answering throws.
    bool check_query(const std::wstring& query, std::string& reason);

    // Registry: false load, true store. True when every value was exchanged.
    bool serialize(bool store);

    // Applies a profile: generic settings and lists, "MySQL settings", "CSV
    // settings". A "CSV delimiter" other than 0 to 2 throws tk_exception
    // (level 1) "Invalid CSV delimiter" before anything is changed.
    bool load_profile(const udb_profile& profile);
    // Fills a profile; the stored queries stay in table_queries.
    bool store_profile(udb_profile& profile);
    bool load_profile_file(const std::wstring& path);
    bool store_profile_file(const std::wstring& path);

    // The source database's table names (the list is emptied first).
    void get_all_tables(std::vector<std::wstring>& names);

    // Throws tk_exception (level 1) when the server does not know the source
    // database. Call it before anything in the destination is deleted.
    void check_source();
    // Console: prepares the destination folder before the run. Checks the
    // source first; mode 0 empties an existing folder of its CSV files; a
    // missing folder is created; a file under the path is a level-1 error.
    void check_dest();
    // Takes the destination folder's lock (held until the run ends), then
    // deletes the folder's CSV files and the part files that earlier runs
    // left. Throws tk_exception (level 1) naming the folder when another
    // conversion holds it.
    void empty_destination();

    // The connection's socket was shut down from another thread: the next
    // call that needs the server connects again first.
    void mark_connection_cut() { m_connection_cut = true; }
    // Connects again after such a cut; nothing when there was none.
    void reconnect_if_cut();

    // The delimiter text of the index, or null outside the table.
    static const wchar_t* delimiter_text(uint32_t index);

    bool blob2text = false;
    bool include_field_names = true;
    uint32_t delimiter_index = 1;

    // The console run: an existence check per table, progress lines on the
    // standard output, missing tables on the standard error stream, every
    // table of the database when nothing is selected. Set by the console
    // program (true when built for the console).
    bool console_run = false;
    // Whether the settings are remembered in the registry (the wizard).
    bool remember_settings = false;

    // Problems met during the last run: reports to the error handler,
    // missing tables and other failures. 0 after a run that converted all.
    tk_atomic<uint32_t> errors_reported;

    // The last run ended before its last entry (the user's abort, or a
    // failure that ends the run as an abort does); read after done.
    std::atomic<bool> run_stopped{false};
    // The entries (name, query; the query empty for a table) that such a run
    // left without a complete file, in list order: those that failed before
    // the end, the one it was converting, and those it did not reach.
    std::vector<name_query> not_converted;

    // Called when the run scope opens, on the run's thread (the wizard starts
    // its progress timer from it; it must hand that to the window thread).
    std::function<void()> on_run_start;
    // Called with the text of a std::exception that ends the run (the wizard
    // shows it in a message box). When unset, the text is logged and, in the
    // console run, written to the standard error stream.
    std::function<void(const std::string&)> on_run_error;

protected:
    // Shuts the connection's socket down so that a waiting fetch returns.
    void on_stop_request() override;

private:
    // A lost connection is opened again once and the run goes on with the
    // next entry; when that fails the run ends with one level-1 report.
    void run_entries(std::unique_ptr<udb_database>& db, csv_engine& csv, csv_validator& validator,
                     const wchar_t* delimiter);
    // Connects again and opens the source database anew; a failure is
    // reported once (failure_lead, then the connect's reason) and ends the
    // run as an Abort would.
    void reopen_source(std::unique_ptr<udb_database>& db, const std::string& failure_lead);
    // The same after the connection was lost; the report names both reasons.
    void restore_connection(std::unique_ptr<udb_database>& db, const tk_exception& lost);
    // Before an entry: the idle connection that the server closed since the
    // last one is restored (as restore_connection does), so that the entry
    // is read on a live one.
    void restore_if_closed(std::unique_ptr<udb_database>& db, const std::wstring& name);
    // A table left with its stream still open: the stream is cut rather
    // than read to its end, and the connection with it.
    void abandon_stream(udb_recordset* rs) noexcept;
    // After such a cut: connects again and opens the source database anew
    // before the next entry; a failure ends the run with one report.
    void reopen_after_cut(std::unique_ptr<udb_database>& db);
    void convert_entry(udb_database& db, csv_engine& csv, csv_validator& validator, const wchar_t* delimiter,
                       const std::wstring& name, const std::wstring& query);
    // Reports through the error handler; lets the user's abort pass.
    void report(const tk_exception& e, bool no_abort);
    // Reports a failure that ends the run; throws nothing.
    void report_run_failure(const tk_exception& e) noexcept;
    void report_run_failure(const std::exception& e) noexcept;
    // Reports the exception being handled (a stop request is no failure);
    // called only from a catch block.
    void report_caught();
    // Takes the destination folder's lock unless this converter holds it.
    void lock_destination();
    // The run ends early: notes what it did not convert.
    void note_stopped();
    // Ends the run when a stop was asked for.
    void check_stop() const;
    // The socket the stop request may shut down (-1: none).
    void set_cancel_socket(int fd);
    // The run's record counter, which a stop request cuts too (null: none).
    void set_cancel_counter(sql_counter* counter);
    // The counter of a run (null when none can be made or none is needed:
    // counted on the main connection).
    std::unique_ptr<sql_counter> open_counter();
    // Where the run's further connections go.
    sql_login run_login() const;
    // A stopped run: ends the server sessions it cut, with what they run.
    void end_cut_sessions(const sql_counter* counter) noexcept;
    // The table's line, console and log: its name and record count.
    void show_table_line(const std::wstring& name, const std::string& count_text);

    // The entry of table_queries the run is at.
    size_t m_next_entry = 0;
    // Per entry of table_queries: it failed or ended early, so it has no
    // complete file; m_entry_incomplete is that of the entry in work.
    std::vector<bool> m_incomplete;
    bool m_entry_incomplete = false;
    // Whether the current entry's line was shown (the run's thread only).
    bool m_table_line_shown = false;
    std::mutex m_cancel_lock;
    int m_cancel_socket = -1;
    sql_counter* m_cancel_counter = nullptr;
    // The run's record counter (the run's thread only).
    sql_counter* m_counter = nullptr;
    // The log told why the run counts on the main connection.
    bool m_told_counting_on_main = false;
    // The run's read-only hold on the main session (the run's thread only).
    sql_read_only_session* m_read_only = nullptr;
    // The socket was shut down: the next run connects again.
    std::atomic<bool> m_connection_cut{false};
    // The destination folder's lock, from its cleanup to the end of the run.
    std::unique_ptr<csv_folder_lock> m_dest_lock;
};
