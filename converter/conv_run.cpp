// The conversion run: every selected table and stored query of the source
// database into one CSV file each.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "csv_lock.h"
#include "csv_util.h"
#include "conv_table_line.h"
#include "csv_vali.h"
#include "error_handler.h"
#include "init_conv.h"
#include "kvr_conv.h"
#include "sql_alive.h"
#include "sql_count.h"
#include "sql_excep.h"
#include "sql_kill.h"
#include "sql_read_only.h"
#include "tk_escape.h"
#include "tk_excep.h"
#include "tk_log.h"
#include "tk_utils.h"
#include "udb_db.h"
#include "udb_recordset.h"
#include "utf8.h"
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

// The whole text, a zero character included (console_line escapes it).
std::string console_text(const std::wstring& text) { return plat::utf8_encode(text); }

// The names of the list's tables (entries without a query), viewed where
// they are: the list must not move while the set is used.
std::unordered_set<std::wstring_view> listed_tables(const std::vector<udb_converter::name_query>& entries,
                                                    size_t more) {
    std::unordered_set<std::wstring_view> names;
    names.reserve(entries.size() + more);
    for (const udb_converter::name_query& e : entries)
        if (e.second.empty()) names.insert(e.first);
    return names;
}

// A failure after which the table's file keeps its part name: the report
// says where the records written so far are.
class part_file_failure : public tk_exception {
public:
    part_file_failure(const tk_exception& e, const std::string& part_path) : tk_exception(e) {
        message_ += " (the records written so far are in " + part_path + ")";
    }
};

// A connection that could not be restored: what came before it, the failed
// connect's reason, and its code, by which the front end names the cause.
class reconnect_failure : public tk_exception {
public:
    reconnect_failure(const std::string& lead, const tk_exception& again) : tk_exception(again) {
        message_ = lead + again.what();
        level_ = 1;
    }
};

}  // namespace

void kellvar_converter::report(const tk_exception& e, bool no_abort) {
    ++errors_reported;
    handler().handle(e, no_abort);
}

void kellvar_converter::report_run_failure(const tk_exception& e) noexcept {
    ++errors_reported;
    try {
        handler().handle(e, true);
    } catch (const tk_final_exception&) {
        // The handler ends the run: it unwinds as a stop does.
        note_stopped();
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
    // The entries that failed before, and those not reached.
    for (size_t i = 0; i < table_queries.size(); ++i)
        if (i >= m_next_entry || (i < m_incomplete.size() && m_incomplete[i]))
            not_converted.push_back(table_queries[i]);
    // A stop before the selected tables joined the list leaves them all.
    std::unordered_set<std::wstring_view> listed = listed_tables(table_queries, selected_tables.size());
    for (const std::wstring& table : selected_tables)
        if (listed.insert(table).second) not_converted.emplace_back(table, std::wstring());
}

void kellvar_converter::operator()() {
    tk_log(2, "kellvar_converter::operator()");
    errors_reported = 0;
    run_stopped = false;
    not_converted.clear();
    m_next_entry = 0;
    m_incomplete.clear();
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
            m_told_counting_on_main = false;
            // On every way out nothing the run started keeps running on the
            // server: a stop cut the connections, else the main one is free.
            scope_exit counter_off([this, &counter] {
                set_cancel_counter(nullptr);
                m_counter = nullptr;
                if (stop_requested())
                    end_cut_sessions(counter.get());
                else if (counter && !m_connection_cut)
                    counter->finish(engine.get_connection());
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
            // A table already in the list (an earlier run appended it, or it
            // is named twice) is not converted twice.
            table_queries.reserve(table_queries.size() + selected_tables.size());
            std::unordered_set<std::wstring_view> listed = listed_tables(table_queries, selected_tables.size());
            for (const std::wstring& table : selected_tables)
                if (listed.insert(table).second) table_queries.emplace_back(table, std::wstring());
            progress.table_count = static_cast<uint32_t>(table_queries.size());
            tk_wlog(3, L"Converting database %s (%d tables)", source.c_str(),
                    static_cast<int>(progress.table_count.load()));
            if (console_run && !silent)
                console_line(stdout, "Converting database " + console_text(source) + "(" +
                                         std::to_string(progress.table_count.load()) + " tables)");
            csv_validator validator(destination);

            run_entries(db, csv, validator, delimiter);

            handler().clear_context();
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

void kellvar_converter::reopen_source(std::unique_ptr<udb_database>& db, const std::string& failure_lead) {
    set_cancel_socket(-1);
    // Nothing of the old session is used again.
    db.reset();
    try {
        connect_mysql_server();
        m_connection_cut = false;
        set_cancel_socket(engine.get_socket());
        check_stop();
        db = engine.open_db(source, 1, std::wstring());
    } catch (const tk_exception& again) {
        // A later run (the wizard's) connects before it starts.
        m_connection_cut = true;
        check_stop();
        // One report, then the run ends as an Abort would end it.
        report_run_failure(reconnect_failure(failure_lead, again));
        throw tk_final_exception();
    }
    tk_log(3, "Connected to the MySQL server again");
}

void kellvar_converter::restore_connection(std::unique_ptr<udb_database>& db, const tk_exception& lost) {
    tk_log(3, "The connection to the MySQL server was lost: %s", lost.what());
    reopen_source(db, std::string(lost.what()) + "; connecting again failed: ");
}

void kellvar_converter::restore_if_closed(std::unique_ptr<udb_database>& db, const std::wstring& name) {
    try {
        sql_check_idle(engine.get_connection());
    } catch (const tk_exception& e) {
        check_stop();
        // A failed reconnect is reported for the entry.
        handler().set_context(name);
        restore_connection(db, e);
    }
}

void kellvar_converter::reopen_after_cut(std::unique_ptr<udb_database>& db) {
    if (!m_connection_cut.load()) return;
    tk_log(2, "The connection was cut: connecting again");
    reopen_source(db, "Cannot connect to the MySQL server again: ");
}

sql_login kellvar_converter::run_login() const {
    return sql_login{host, user, password, static_cast<unsigned int>(parse_port(port)), tk_to_utf8(source)};
}

std::unique_ptr<sql_counter> kellvar_converter::open_counter() {
    // Without streams the counts run on the main connection.
    if (definitions_only) return nullptr;
    try {
        return std::make_unique<sql_counter>(run_login());
    } catch (const std::exception& e) {
        tk_log(2, "No record counts in this run: %s", e.what());
        return nullptr;
    }
}

void kellvar_converter::end_cut_sessions(const sql_counter* counter) noexcept {
    std::vector<unsigned long> sessions;
    if (m_connection_cut) sessions.push_back(sql_session_id(engine.get_connection()));
    if (counter) sessions.push_back(counter->connection_id());
    const size_t ended = sql_end_sessions(run_login(), sessions);
    tk_log(2, "Server sessions of the stopped run ended: %zu", ended);
}

void kellvar_converter::show_table_line(const std::wstring& name, const std::string& count_text) {
    m_table_line_shown = true;
    tk_wlog(3, L"Converting table %s (%s records)", name.c_str(), tk_from_utf8(count_text).c_str());
    if (console_run && !silent)
        console_line(stdout, "Converting table " + console_text(name) + "(" + count_text + " records)");
}

void kellvar_converter::run_entries(std::unique_ptr<udb_database>& db, csv_engine& csv, csv_validator& validator,
                                    const wchar_t* delimiter) {
    m_incomplete.assign(table_queries.size(), false);
    for (size_t i = 0; i < table_queries.size(); ++i) {
        m_next_entry = i;
        m_entry_incomplete = false;
        check_stop();
        // The entry before left its stream cut.
        reopen_after_cut(db);
        const std::wstring name = table_queries[i].first;
        const std::wstring query = table_queries[i].second;
        // The status names this entry from now on, also while a failure of
        // its look-up is reported.
        progress.current_table = name;
        progress.record_count = 0;
        progress.current_record = 0;

        // Stored queries are no tables: only tables are looked up.
        if (query.empty() && !db->is_table_exist(name)) {
            m_incomplete[i] = true;
            tk_wlog(3, L"Table %s not exists", name.c_str());
            if (console_run) {
                ++errors_reported;
                if (!silent) console_line(stderr, "Table " + console_text(name) + " not exists");
            } else {
                handler().clear_context();
                report(tk_exception(L"Table " + name + L" not exists", 0), false);
            }
            ++progress.tables_done;
            continue;
        }

        m_table_line_shown = false;
        try {
            // Nothing of the entry is read yet: a connection lost while idle
            // costs it nothing.
            restore_if_closed(db, name);
            // The session reads only, also one opened since. A table is read
            // by the run's own statements; a stored query, the user's text,
            // runs in a read-only transaction of its own, which nothing the
            // text says can switch off.
            if (m_read_only) m_read_only->hold();
            std::optional<sql_read_only_transaction> reading;
            if (!query.empty()) reading.emplace(engine.get_connection());
            convert_entry(*db, csv, validator, delimiter, name, query);
            if (m_entry_incomplete) m_incomplete[i] = true;
        } catch (const tk_exception& e) {
            m_incomplete[i] = true;
            check_stop();
            // The table's line is the first message about it, also when the
            // table failed before its count was known.
            if (!m_table_line_shown) show_table_line(name, "?");
            handler().set_context(name);
            if (sql_is_connection_lost(e)) restore_connection(db, e);
            report(e, false);
        }
        // The entry's count is no longer wanted. Its stream is closed, so the
        // main connection is free to cancel it.
        if (m_counter) m_counter->cancel_stale(engine.get_connection());
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
    // However the entry ends, a stream still open is not read to its end.
    scope_exit cut_open_stream([&] { abandon_stream(rs.get()); });

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

    // Mode 1: the table's earlier file stays until the new one is complete
    // and takes its place.
    bool replaces = false;
    if (csv.is_table_exist(file_name)) {
        if (mode == 2) {
            if (tk_log_wants(2)) tk_wlog(2, L"Skipping existing file for '%s'", name.c_str());
            return;
        }
        replaces = mode == 1;
    }

    // The file has its name only once the table is complete: until then it
    // is written under its part name.
    const std::wstring path = csv.get_full_file_name(file_name);
    // The header is written from the columns of the result that fills the
    // file, once its stream is open.
    std::unique_ptr<csv_file> file =
        std::make_unique<csv_file>(path, delimiter, csv_file::target::part_file);
    // A table that ends before its first record leaves no part file; one
    // that ends later leaves its records in it, and its report says so.
    uint64_t written = 0;
    bool settled = false;
    scope_exit drop_unwritten([&] {
        if (!settled && written == 0) file->discard();
    });
    auto report_end = [&](const tk_exception& e) {
        if (written == 0) {
            file->discard();
            report(e, false);
        } else {
            report(part_file_failure(e, file->output_path()), false);
        }
    };
    // The file is whole: it takes its name, and in mode 1 the place of the
    // table's earlier file.
    auto finish_file = [&] {
        settled = true;
        file->complete();
        if (replaces) csv.delete_replaced(file_name, file->output_path());
    };

    // The table's line is its first message: shown when the count is known,
    // before any report about the table, or at its end.
    conv_table_line line([&](const std::string& count_text, bool exact, uint64_t count) {
        if (exact) progress.record_count = count;
        show_table_line(name, count_text);
    });
    udb_recordset* counted = rs->is_counted_apart() ? rs.get() : nullptr;
    // "Definitions only" runs no stored query, also not to count its rows.
    if (definitions_only && !query.empty()) counted = nullptr;
    std::string no_counter;
    if (counted && (!m_counter || !m_counter->available(no_counter))) {
        // No count connection: counted before the stream.
        if (m_counter && !m_told_counting_on_main) {
            m_told_counting_on_main = true;
            tk_log(3, "The records are counted on the main connection: %s", no_counter.c_str());
        }
        try {
            counted->count();
        } catch (const tk_exception& e) {
            tk_log(2, "The rows cannot be counted: %s", e.what());
        }
        // A stop cuts a count that runs here.
        check_stop();
        counted = nullptr;
    }
    if (!counted) line.counted_before(rs->is_record_count_known(), rs->get_record_count());
    // The count starts beside the stream once its first page is in: a table
    // whose rows all came with it needs none.
    auto start_count = [&] {
        if (counted->is_stream_done()) return;
        m_counter->start(tk_to_utf8(counted->count_statement()));
        line.count_beside([this](uint64_t& count) { return m_counter->result(count); });
    };
    auto show_at_end = [&](bool complete) { line.at_end(complete, progress.current_record.load()); };

    if (definitions_only) {
        if (include_field_names) file->write_header(rs->get_schema());
        finish_file();
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
    // The table ends at the end of its stream, whatever the count said.
    rs->reset();
    if (include_field_names) file->write_header(rs->get_schema());
    if (counted) start_count();
    // A lost connection ends the table; the run connects again and reports
    // it, naming a part file left behind.
    auto pass_lost = [&](const tk_exception& e) {
        if (written == 0) throw;
        throw part_file_failure(e, file->output_path());
    };
    bool complete = true;
    while (!rs->is_eof()) {
        line.poll();
        check_stop();
        const uint64_t number = progress.current_record.load() + 1;
        if (tk_log_wants(1)) tk_log(1, "Converting record #%" PRIu64, number);
        bool ends_table = false;
        try {
            udb_record* record = rs->get_record();
            if (!record) throw tk_exception(std::string("The record cannot be read"), 0);
            file->append_record(*record);
            ++written;
        } catch (const tk_exception& e) {
            check_stop();
            if (sql_is_connection_lost(e)) pass_lost(e);
            handler().set_context(plat::wformat(L"%s, record #%I64u", name.c_str(), number));
            // A level-0 failure ends the table (and the console program ends
            // at any other level); the part file keeps the records written
            // before it.
            ends_table = e.level() == 0;
            show_at_end(false);
            if (ends_table || console_run)
                report_end(e);
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
            if (sql_is_connection_lost(e)) pass_lost(e);
            handler().set_context(
                plat::wformat(L"%s, record #%I64u", name.c_str(), progress.current_record.load() + 1));
            complete = false;
            show_at_end(false);
            report_end(e);
            break;
        }
    }
    show_at_end(complete);
    if (complete) {
        finish_file();
    } else {
        file->close();
        m_entry_incomplete = true;
    }
}
