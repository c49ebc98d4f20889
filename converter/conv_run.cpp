// The conversion run: every selected table and stored query of the source
// database into one CSV file each.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "csv_lock.h"
#include "csv_util.h"
#include "csv_vali.h"
#include "error_handler.h"
#include "init_conv.h"
#include "kvr_conv.h"
#include "sql_count.h"
#include "sql_excep.h"
#include "sql_read_only.h"
#include "sql_recs.h"
#include "tk_escape.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_db.h"
#include "udb_recordset.h"
#include "wformat.h"

namespace {

// Runs a function when the scope ends, on every way out.
template <class F>
class scope_exit {
public:
    explicit scope_exit(F f) : f_(std::move(f)) {}
    ~scope_exit() { f_(); }
    scope_exit(const scope_exit&) = delete;
    scope_exit& operator=(const scope_exit&) = delete;

private:
    F f_;
};

// Control characters of names and messages are shown escaped.
void console_line(FILE* stream, const std::string& text) {
    std::fputs(tk_escape_controls(text).c_str(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

std::string console_text(const std::wstring& text) { return tk_to_ansi(text, tk_cp_ansi); }

// A failure after which the table's file keeps its part name: the report
// says where the records written so far are.
class part_file_failure : public tk_exception {
public:
    part_file_failure(const tk_exception& e, const std::string& part_path) : tk_exception(e) {
        message_ += " (the records written so far are in " + part_path + ")";
    }
};

}  // namespace

void kellvar_converter::report(const tk_exception& e, bool no_abort) {
    ++errors_reported;
    error_handler::instance()->handle(e, no_abort);
}

void kellvar_converter::report_run_failure(const tk_exception& e) noexcept {
    ++errors_reported;
    try {
        if (error_handler* handler = error_handler::peek()) {
            handler->handle(e, true);
        } else {
            tk_log(3, "ERROR:\n%s", e.what());
            if (console_run && !silent) console_line(stderr, e.what());
        }
    } catch (const std::exception& again) {
        tk_log(3, "ERROR:\n%s", again.what());
    } catch (...) {
        tk_log(3, "ERROR: unknown failure while reporting");
    }
}

void kellvar_converter::report_run_failure(const std::exception& e) noexcept {
    ++errors_reported;
    try {
        tk_log(3, "ERROR:\n%s", e.what());
        if (on_run_error)
            on_run_error(e.what());
        else if (console_run && !silent)
            console_line(stderr, e.what());
    } catch (...) {
        tk_log(3, "ERROR: unknown failure while reporting");
    }
}

void kellvar_converter::note_stopped() {
    run_stopped = true;
    not_converted.clear();
    for (size_t i = m_next_entry; i < table_queries.size(); ++i) not_converted.push_back(table_queries[i]);
    // A stop before the selected tables joined the list leaves them all.
    for (const std::wstring& table : selected_tables) {
        bool listed = false;
        for (const name_query& e : table_queries)
            if (e.second.empty() && e.first == table) listed = true;
        if (!listed) not_converted.emplace_back(table, std::wstring());
    }
}

void kellvar_converter::operator()() {
    tk_log(2, "kellvar_converter::operator()");
    errors_reported = 0;
    run_stopped = false;
    not_converted.clear();
    m_next_entry = 0;
    try {
        init_conversion scope(this, console_run, on_run_start);
        try {
            check_stop();
            const wchar_t* delimiter = delimiter_text(delimiter_index);
            if (!delimiter) throw tk_exception(std::string("Invalid CSV delimiter"), 1);
            // A stop or a lost connection of an earlier run cut the session.
            reconnect_if_cut();

            if (!engine.is_connected()) throw tk_exception(std::string("Not connected to the MySQL server"), 1);
            // Nothing the run sends can change the source: the session reads
            // only, until the run ends.
            sql_read_only_session read_only(engine);
            m_read_only = &read_only;
            scope_exit read_only_off([this] { m_read_only = nullptr; });
            // From here a stop request may cut the connection.
            set_cancel_socket(engine.get_socket());
            scope_exit cancel_off([this] { set_cancel_socket(-1); });
            check_stop();
            // The record counts run on a connection of their own, beside the
            // streams; a stop cuts it too.
            std::unique_ptr<sql_counter> counter = open_counter();
            set_cancel_counter(counter.get());
            m_counter = counter.get();
            scope_exit counter_off([this] {
                set_cancel_counter(nullptr);
                m_counter = nullptr;
            });

            // BLOB and binary string cells reach the files as text.
            const bool saved_blob_to_text = engine.is_blob_to_text();
            engine.set_blob_to_text(true);
            scope_exit blob_back([this, saved_blob_to_text] { engine.set_blob_to_text(saved_blob_to_text); });

            std::unique_ptr<udb_database> db = engine.open_db(source, 1, std::wstring());
            // No other run writes into the folder while this one does.
            lock_destination();
            scope_exit unlock([this] { m_dest_lock.reset(); });
            csv_engine csv(destination, std::wstring());
            if (console_run && selected_tables.empty() && table_queries.empty())
                selected_tables = db->get_table_names();
            // A table already in the list (an earlier run appended it) is not
            // converted twice.
            for (const std::wstring& table : selected_tables) {
                bool listed = false;
                for (const name_query& e : table_queries)
                    if (e.second.empty() && e.first == table) listed = true;
                if (!listed) table_queries.emplace_back(table, std::wstring());
            }
            progress.table_count = static_cast<uint32_t>(table_queries.size());
            tk_wlog(3, L"Converting database %s (%d tables)", source.c_str(),
                    static_cast<int>(progress.table_count.load()));
            if (console_run && !silent)
                console_line(stdout, "Converting database " + console_text(source) + "(" +
                                         std::to_string(progress.table_count.load()) + " tables)");
            csv_validator validator(destination);

            run_entries(db, csv, validator, delimiter);
            if (counter) counter->finish(engine.get_connection());

            error_handler::instance()->clear_context();
            progress.table_count = 0;
            progress.tables_done = 0;
        } catch (const std::exception&) {
            // Reported while the run's scope is still open.
            report_caught();
        }
    } catch (...) {
        report_caught();
    }
}

void kellvar_converter::report_caught() {
    try {
        throw;
    } catch (const tk_final_exception&) {
        tk_log(2, "The conversion ends at the user's request");
        note_stopped();
    } catch (const tk_exception& e) {
        report_run_failure(e);
    } catch (const std::exception& e) {
        report_run_failure(e);
    } catch (...) {
        ++errors_reported;
        tk_log(3, "ERROR: unknown failure");
        set_done();
    }
}

void kellvar_converter::restore_connection(std::unique_ptr<udb_database>& db, const tk_exception& lost) {
    tk_log(3, "The connection to the MySQL server was lost: %s", lost.what());
    set_cancel_socket(-1);
    // Nothing of the old session is used again.
    db.reset();
    try {
        connect_mysql_server();
        set_cancel_socket(engine.get_socket());
        check_stop();
        db = engine.open_db(source, 1, std::wstring());
    } catch (const tk_exception& again) {
        // A later run (the wizard's) connects before it starts.
        m_connection_cut = true;
        check_stop();
        // One report, then the run ends as an Abort would end it.
        report_run_failure(
            tk_exception(std::string(lost.what()) + "; connecting again failed: " + again.what(), 1));
        throw tk_final_exception();
    }
    tk_log(3, "Connected to the MySQL server again");
}

std::unique_ptr<sql_counter> kellvar_converter::open_counter() {
    try {
        return std::make_unique<sql_counter>(sql_counter::login{
            host, user, password, static_cast<unsigned int>(parse_port(port)), tk_to_utf8(source)});
    } catch (const std::exception& e) {
        tk_log(2, "No record counts in this run: %s", e.what());
        return nullptr;
    }
}

void kellvar_converter::show_table_line(const std::wstring& name, const std::string& count_text) {
    tk_wlog(3, L"Converting table %s (%s records)", name.c_str(), tk_from_utf8(count_text).c_str());
    if (console_run && !silent)
        console_line(stdout, "Converting table " + console_text(name) + "(" + count_text + " records)");
}

void kellvar_converter::run_entries(std::unique_ptr<udb_database>& db, csv_engine& csv, csv_validator& validator,
                                    const wchar_t* delimiter) {
    for (size_t i = 0; i < table_queries.size(); ++i) {
        m_next_entry = i;
        check_stop();
        const std::wstring name = table_queries[i].first;
        const std::wstring query = table_queries[i].second;
        // The status names this entry from now on, also while a failure of
        // its look-up is reported.
        progress.current_table = name;
        progress.record_count = 0;
        progress.current_record = 0;

        // Stored queries are no tables: only tables are looked up.
        if (query.empty() && !db->is_table_exist(name)) {
            tk_wlog(3, L"Table %s not exists", name.c_str());
            if (console_run) {
                ++errors_reported;
                if (!silent) console_line(stderr, "Table " + console_text(name) + " not exists");
            } else {
                error_handler::instance()->clear_context();
                report(tk_exception(L"Table " + name + L" not exists", 0), false);
            }
            ++progress.tables_done;
            continue;
        }

        try {
            // The session reads only, also one opened since. A table is read
            // by the run's own statements; a stored query, the user's text,
            // runs in a read-only transaction of its own, which nothing the
            // text says can switch off.
            if (m_read_only) m_read_only->hold();
            std::optional<sql_read_only_transaction> reading;
            if (!query.empty()) reading.emplace(engine.get_connection());
            convert_entry(*db, csv, validator, delimiter, name, query);
        } catch (const tk_exception& e) {
            check_stop();
            error_handler::instance()->set_context(name);
            if (sql_is_connection_lost(e)) restore_connection(db, e);
            report(e, false);
        }
        ++progress.tables_done;
    }
    m_next_entry = table_queries.size();
}

void kellvar_converter::convert_entry(udb_database& db, csv_engine& csv, csv_validator& validator,
                                      const wchar_t* delimiter, const std::wstring& name,
                                      const std::wstring& query) {
    // The file takes the rows and the column names: nothing else of a table is looked up.
    std::unique_ptr<udb_recordset> rs =
        query.empty() ? db.get_table(name, udb_database::table_rows_only) : db.get_query(name, query, 1);
    if (!rs || rs->get_schema().size() == 0) return;

    // The file name: the entry's own name when it is fit for a file, else a
    // generated one. Either is kept from every later entry of the run, also
    // when the entry is skipped below.
    const bool generated = !validator.is_acceptable(name);
    const std::wstring file_name = generated ? validator.get_safe_name(name) : name;
    if (generated) {
        if (tk_log_wants(2)) tk_wlog(2, L"Store generated table name '%s'", file_name.c_str());
        validator.add_existing_name(file_name);
    }
    validator.add_restricted_name(file_name);

    if (csv.is_table_exist(file_name)) {
        if (mode == 2) {
            if (tk_log_wants(2)) tk_wlog(2, L"Skipping existing file for '%s'", name.c_str());
            return;
        }
        if (mode == 1) csv.delete_tab(file_name);
    }

    // The file has its name only once the table is complete: until then it
    // is written under its part name.
    const std::wstring path = csv.get_full_file_name(file_name);
    // The header is written from the columns of the result that fills the
    // file, once its stream is open.
    std::unique_ptr<csv_file> file =
        std::make_unique<csv_file>(path, delimiter, csv_file::target::part_file);

    // The table's line is its first message: shown when the count is known,
    // before any report about the table, or at its end. The count runs
    // beside the stream; one that fails, or is still running when the table
    // failed, shows as "?".
    bool line_shown = false;
    auto show_line = [&](bool known, uint64_t count) {
        line_shown = true;
        if (known) progress.record_count = count;
        show_table_line(name, known ? std::to_string(count) : std::string("?"));
    };
    sql_recordset* counted = dynamic_cast<sql_recordset*>(rs.get());
    // "Definitions only" runs no stored query, also not to count its rows.
    if (definitions_only && !query.empty()) counted = nullptr;
    if (counted && !m_counter) {
        // No count connection in this run: counted before the stream.
        try {
            counted->count();
        } catch (const tk_exception& e) {
            tk_log(2, "The rows cannot be counted: %s", e.what());
        }
        counted = nullptr;
    }
    if (!counted) show_line(rs->is_record_count_known(), rs->get_record_count());
    // The count starts beside the stream once its first page is in: a table
    // whose rows all came with it needs none.
    bool counting = false;
    auto start_count = [&] {
        if (counted->is_stream_done()) return;
        m_counter->start(tk_to_utf8(counted->count_statement()));
        counting = true;
    };
    auto show_when_counted = [&] {
        if (!counting) return;
        uint64_t count = 0;
        const sql_counter::outcome state = m_counter->result(count);
        if (state != sql_counter::outcome::pending) show_line(state == sql_counter::outcome::known, count);
    };
    // complete: the stream ended normally, its records are the exact count.
    auto show_at_end = [&](bool complete) {
        if (line_shown) return;
        show_when_counted();
        if (line_shown) return;
        line_shown = true;
        // A table not counted has as many records as the file received.
        if (complete && !counting) progress.record_count = progress.current_record.load();
        show_table_line(name, complete ? std::to_string(progress.current_record.load()) : std::string("?"));
    };

    if (definitions_only) {
        if (!line_shown) {
            m_counter->cancel_stale(engine.get_connection());
            m_counter->start(tk_to_utf8(counted->count_statement()));
            uint64_t count = 0;
            const sql_counter::outcome state = m_counter->wait(count);
            show_line(state == sql_counter::outcome::known, count);
        }
        if (include_field_names) file->write_header(rs->get_schema());
        file->complete();
        return;
    }

    // A failure that leaves the table is reported after its line.
    scope_exit line_first([&] {
        try {
            show_at_end(false);
        } catch (...) {
            tk_log(3, "The table's line cannot be shown");
        }
    });
    // A count of an earlier table that is still running is cancelled while
    // the main connection is free: once the stream is open it is the stream's.
    if (counted) m_counter->cancel_stale(engine.get_connection());
    // The table ends at the end of its stream, whatever the count said.
    try {
        rs->reset();
    } catch (...) {
        if (include_field_names) file->write_header(rs->get_schema());
        throw;
    }
    if (include_field_names) file->write_header(rs->get_schema());
    if (counted) start_count();
    bool complete = true;
    while (!rs->is_eof()) {
        if (!line_shown) show_when_counted();
        check_stop();
        const uint64_t number = progress.current_record.load() + 1;
        if (tk_log_wants(1)) tk_log(1, "Converting record #%" PRIu64, number);
        bool ends_table = false;
        try {
            udb_record* record = rs->get_record();
            if (!record) throw tk_exception(std::string("The record cannot be read"), 0);
            file->append_record(*record);
        } catch (const tk_exception& e) {
            check_stop();
            if (sql_is_connection_lost(e)) throw;  // the run connects again
            error_handler::instance()->set_context(plat::wformat(L"%s, record #%I64u", name.c_str(), number));
            // A level-0 failure ends the table (and the console program ends
            // at any other level); the part file keeps the records written
            // before it.
            ends_table = e.level() == 0;
            show_at_end(false);
            if (ends_table || console_run)
                report(part_file_failure(e, file->output_path()), false);
            else
                report(e, false);
        }
        if (ends_table) {
            complete = false;
            break;
        }
        ++progress.current_record;
        try {
            rs->next();
        } catch (const tk_exception& e) {
            // The next record could not be read: the table ends here.
            check_stop();
            if (sql_is_connection_lost(e)) throw;  // the run connects again
            error_handler::instance()->set_context(
                plat::wformat(L"%s, record #%I64u", name.c_str(), progress.current_record.load() + 1));
            complete = false;
            show_at_end(false);
            report(part_file_failure(e, file->output_path()), false);
            break;
        }
    }
    show_at_end(complete);
    if (complete)
        file->complete();
    else
        file->close();
}
