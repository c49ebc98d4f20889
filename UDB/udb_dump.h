// Dump flags kept with the MySQL settings.
#pragma once
#include <cstdint>
#include <string>

struct dump_options {
    dump_options();

    int32_t dump_line_break = 0;
    bool dump_new_version = true;
    bool dump_add_lock = true;       // "dump add lock to insert"
    bool dump_insert_comments = true;
    bool dump_create_db = false;     // "dump create database"
    bool dump_create_table = true;
    std::string text1;  // unused by this system
    std::string text2;
};
