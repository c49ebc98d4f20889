// A kind of storage: creates, opens, deletes and tests databases.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

class udb_database;
class udb_properties;

class udb_engine {
public:
    virtual ~udb_engine() = default;

    virtual std::unique_ptr<udb_database> create_db(const std::wstring& name) = 0;
    virtual std::unique_ptr<udb_database> open_db(const std::wstring& name, uint32_t mode,
                                                  const std::wstring& text) = 0;
    // Deletes the file of that name; throws tk_exception_ex (level 1).
    virtual void db_delete(const std::wstring& name);
    // Whether the name is an existing entry that is not a folder.
    virtual bool is_db_exist(const std::wstring& name);
    // Keeps the pointer (not owned).
    virtual void set_properties(udb_properties* properties) { properties_ = properties; }

    udb_properties* get_properties() const { return properties_; }

protected:
    udb_engine() = default;
    udb_engine(const udb_engine&) = default;
    udb_engine& operator=(const udb_engine&) = default;

    udb_properties* properties_ = nullptr;
};
