// Reads text columns of SHOW and information_schema results as text: the
// engine's blob-to-text flag is set for the life of the object and then put
// back, also when an exception leaves the scope.
#pragma once
#include "sql_engi.h"

class sql_blob_to_text_scope {
public:
    sql_blob_to_text_scope()
        : engine_(*tk_singleton<sql_engine>::instance()), saved_(engine_.is_blob_to_text()) {
        engine_.set_blob_to_text(true);
    }
    ~sql_blob_to_text_scope() { engine_.set_blob_to_text(saved_); }
    sql_blob_to_text_scope(const sql_blob_to_text_scope&) = delete;
    sql_blob_to_text_scope& operator=(const sql_blob_to_text_scope&) = delete;

private:
    sql_engine& engine_;
    bool saved_;
};
