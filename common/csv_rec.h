// Records of the CSV reader: one record made from one CSV line.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "udb_record.h"
#include "udb_schema.h"

// One value of a CSV line, held as wide text.
class csv_field : public udb_field {
public:
    // Named "F" followed by position + 1.
    csv_field(uint32_t position, std::wstring&& text);
    // Named as given (the schema's descriptor).
    csv_field(const std::wstring& name, std::wstring&& text);
    ~csv_field() override;
};

class csv_record : public udb_record {
public:
    // schema: names the fields when not empty (not owned; may be null).
    explicit csv_record(const udb_schema* schema) : schema_(schema) {}
    ~csv_record() override;

    // Fills the record from the text of one record: fields split at the
    // delimiter by the reading rules; with a schema of k descriptors at most
    // k fields, named after them.
    void do_create(std::wstring_view line, std::wstring_view delim);

private:
    const udb_schema* schema_ = nullptr;
};
