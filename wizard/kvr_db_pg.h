// The database and folder page: the source database from the server's list,
// the destination folder, the CSV delimiter and two options. Next checks the
// names, creates a missing folder, or asks how an existing one is treated.
#pragma once
#include <cstdint>

#include "g_wiz_pg.h"

// Control ids of the database and folder dialog.
inline constexpr int idc_db_list = 1317;
inline constexpr int idc_db_folder = 1004;
inline constexpr int idc_db_browse = 1103;
inline constexpr int idc_db_delim_pipes = 1329;
inline constexpr int idc_db_delim_semicolon = 1330;
inline constexpr int idc_db_delim_comma = 1331;
inline constexpr int idc_db_field_names = 1202;
inline constexpr int idc_db_no_data = 1228;

// The overwrite dialog's id and its help topic.
inline constexpr uint32_t idd_overwrite = 107;
inline constexpr uint32_t idh_overwrite = 1016;

class sel_file_page : public wizard_page<105, wizb_back | wizb_next, psp_has_help> {
public:
    explicit sel_file_page(QWidget* parent = nullptr);

    bool page_init() override;
    int on_next() override;
    int on_back() override;
    void on_help() override;

    // "Browse...": a folder chooser starting at the destination.
    void on_browse_dest();
    // The controls into the converter.
    void store_settings();

private:
    gui_list_box* m_list = nullptr;
};
