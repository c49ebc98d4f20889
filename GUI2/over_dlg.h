// The question asked when the destination folder exists: overwrite the
// entire folder (its CSV files are deleted), overwrite existing files only,
// or skip existing files. The choice is the converter's write mode.
#pragma once
#include <cstdint>
#include <string>

#include "g_dialog.h"

// Control ids of the dialog.
inline constexpr int idc_over_message = 1320;
inline constexpr int idc_over_entire = 1329;
inline constexpr int idc_over_files = 1330;
inline constexpr int idc_over_skip = 1331;
inline constexpr int idc_over_ok = 1;
inline constexpr int idc_over_cancel = 2;
inline constexpr int idc_over_help = 9;

// The modes, in the order of the radio buttons.
inline constexpr uint32_t over_mode_entire_folder = 0;
inline constexpr uint32_t over_mode_files_only = 1;
inline constexpr uint32_t over_mode_skip = 2;

class overwrite_dlg_base : public gui_dialog {
    Q_OBJECT
public:
    // The result after OK (1): the mode of the checked radio button.
    uint32_t mode() const { return m_mode; }
    const std::wstring& message() const { return m_message; }
    uint32_t help_topic() const { return m_help_topic; }

    // OK: takes the mode and closes with 1. No choice is an internal error.
    void on_ok();

protected:
    overwrite_dlg_base(uint32_t dialog_id, const std::wstring& message, uint32_t help_topic, QWidget* owner);
    void on_init() override;
    // Escape and the close box mean Cancel.
    void reject() override;

private:
    uint32_t m_mode = over_mode_entire_folder;
    std::wstring m_message;
    uint32_t m_help_topic;
};

template <uint32_t IDD>
class overwrite_dlg2 : public overwrite_dlg_base {
public:
    static constexpr uint32_t idd = IDD;
    overwrite_dlg2(const std::wstring& message, uint32_t help_topic, QWidget* owner = nullptr)
        : overwrite_dlg_base(IDD, message, help_topic, owner) {}
};
