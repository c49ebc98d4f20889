// The error handler's dialogs: the internal-error dialog (114) with copy and
// mail buttons, and the continue-or-abort dialog (115) of level-0 errors.
#pragma once
#include <cstdint>
#include <string>

#include "g_dialog.h"

// Control ids of the error dialogs.
inline constexpr int idc_err_abort = 1;     // 115
inline constexpr int idc_err_ok = 1;        // 114
inline constexpr int idc_err_continue = 2;  // 115
inline constexpr int idc_err_copy = 1108;
inline constexpr int idc_err_send_bug = 1112;
inline constexpr int idc_err_do_not_show = 1222;
inline constexpr int idc_err_message = 1320;

class dlg_error_ex : public gui_dialog {
    Q_OBJECT
public:
    static constexpr uint32_t idd = 114;
    explicit dlg_error_ex(const std::wstring& message, QWidget* owner = nullptr);
    const std::wstring& message() const { return m_message; }

    // "Send bug": the wizard title and the message go to the mail program.
    void on_send_bug();

protected:
    void on_init() override;
    // Escape and the close box close the dialog as OK does.
    void reject() override;

private:
    std::wstring m_message;
};

class dlg_error_continue : public gui_dialog {
    Q_OBJECT
public:
    static constexpr uint32_t idd = 115;
    explicit dlg_error_continue(const std::wstring& message, QWidget* owner = nullptr);
    const std::wstring& message() const { return m_message; }
    // The state of "&Do not show this dialog box again".
    bool do_not_show() const { return m_do_not_show; }

protected:
    void on_init() override;
    // Escape and the close box mean Continue.
    void reject() override;

private:
    std::wstring m_message;
    bool m_do_not_show = false;
};
