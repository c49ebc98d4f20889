// The converter's database-layer part: what to do with existing files, the
// progress of a run, the chosen tables and queries, and their exchange with a
// settings profile ("Generic settings" and the three list sections).
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tk_atomic.h"
#include "tk_conv.h"

class udb_profile;

// Written by the run; the window thread reads it while the run goes on.
struct udb_progress {
    tk_atomic<uint32_t> table_count;   // entries of the run; 0 before and after it
    tk_atomic<uint32_t> tables_done;   // entries finished
    tk_guarded<std::wstring> current_table;
    tk_guarded<std::wstring> status_text;  // not written by the run
    tk_guarded<std::wstring> detail_text;  // not written by the run
    tk_atomic<uint64_t> record_count;    // records of the current table, 0 until known
    tk_atomic<uint64_t> current_record;  // records of the current table handled so far
};

class udb_converter : public tk_converter {
public:
    using name_query = std::pair<std::wstring, std::wstring>;

    udb_converter();
    ~udb_converter() override;

    // 0 overwrite the whole folder, 1 overwrite file by file, 2 skip existing files.
    void set_mode(int mode);

    // Whether the source accepts the query.
    virtual bool check_query(const std::wstring& query) = 0;

    // Appends the profile's list sections to the lists and takes its generic
    // settings. Throws tk_exception (level 1) for a mode other than "0" to "2"
    // (nothing is changed then) and for a log file that set_logfile refuses.
    bool load_profile(const udb_profile& profile);
    // Puts the lists and the generic settings into the profile.
    bool store_profile(udb_profile& profile) const;

    int mode = 0;
    udb_progress progress;
    std::vector<std::wstring> selected_tables;
    // (name, query text); an empty query text is a table.
    std::vector<name_query> table_queries;
    std::vector<name_query> selected_views;
    std::vector<name_query> available_queries;
    bool definitions_only = false;
    bool skip_indexes = false;
};
