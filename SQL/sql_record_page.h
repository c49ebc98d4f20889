// The caller's page of a stream: records converted from the rows received.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sql_rec.h"

// Slots below count hold the current rows; the record objects of the other
// slots are kept for reuse.
struct sql_record_page {
    static constexpr size_t max_rows = 256;
    // A page also ends once its rows hold this many bytes (at least one row).
    static constexpr size_t max_bytes = 8u << 20;
    // A record that held a row this large is rebuilt, not reused, so that
    // no slot keeps a large buffer after its row has gone.
    static constexpr size_t reuse_limit = 16u << 10;

    std::array<std::unique_ptr<sql_record>, max_rows> slots;
    std::array<size_t, max_rows> bytes{};
    size_t count = 0;
    // The names serial (see sql_record::assign_row) that a stream last took
    // from serial_for, and the names it stands for.
    uint64_t names_serial = 0;
    std::vector<std::wstring> names;

    // A names serial for the columns: the page's own when the names are the
    // same (its records keep their names without comparing), else a new one.
    uint64_t serial_for(const sql_columns& columns);

    // Forgets the rows (values emptied, large records dropped).
    void clear();
    // Forgets the rows that are about to be overwritten: only the large
    // records are dropped; the values of the others stay until the slots
    // are read again (or clear_from empties them).
    void recycle();
    // Empties the values of the slots from first to last (exclusive).
    void clear_from(size_t first, size_t last);
};
