// The last page: whether the run had errors, the list of them, and
// "&Save Settings...", which writes the settings as a profile.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "g_wiz_pg.h"

// Control ids of the finish dialog.
inline constexpr int idc_finish_title = 1313;
inline constexpr int idc_finish_result = 1314;
inline constexpr int idc_finish_errors = 1016;
inline constexpr int idc_finish_store = 1116;

inline constexpr const wchar_t* finish_default_success_text =
    L"Wizard has converted your MySQL database into\nCSV format successfully.\n\nClick 'Finish' to exit the wizard.";
inline constexpr const wchar_t* finish_default_error_text =
    L"There were some errors while converting the database.\nClick 'Finish' to exit the wizard.";
// Shown in the list when the run reported a failure that left no text there.
inline constexpr const wchar_t* finish_unlisted_error_text =
    L"The conversion reported an error that is not listed here.";

// A run that ended before its last table (Abort, or a connection that could
// not be restored).
inline constexpr const wchar_t* finish_stopped_title = L"Conversion was Stopped";
inline constexpr const wchar_t* finish_stopped_text =
    L"The conversion was stopped before all tables were converted.\nClick 'Finish' to exit the wizard.";
inline constexpr const wchar_t* finish_not_converted_heading = L"Not converted:";

// A run that had no table or query to convert.
inline constexpr const wchar_t* finish_nothing_title = L"Nothing was Converted";
inline constexpr const wchar_t* finish_nothing_text =
    L"There was nothing to convert: no table or query was selected.\n\nClick 'Finish' to exit the wizard.";

// What the finish page shows of a run.
struct finish_outcome {
    std::vector<std::string> errors;  // the frame's list
    std::size_t errors_left_out = 0;  // reported, but beyond the list's limit
    bool run_failed = false;          // a failure was counted
    bool stopped = false;             // the run ended early
    bool nothing_converted = false;   // the run had no entry to convert
    // The tables (query empty) and queries the stopped run did not convert.
    std::vector<std::pair<std::wstring, std::wstring>> not_converted;
};

// Builds the controls of the finish dialog on the page.
void finish_build_dialog(wizard_page_common& page);
// Shows the result of the run: the success text when the run had no error,
// was not stopped and had something to convert (else the nothing text);
// else the error text (or the stopped text) and the list, each error on one
// line followed by an empty line, "... and N more" for the errors left out,
// then what a stopped run did not convert. The list shows from its top.
void finish_show_result(wizard_page_common& page, const finish_outcome& outcome, const std::wstring& success_text,
                        const std::wstring& error_text);
// "Profile Files (.ext)|*.ext|All Files (*.*)|*.*|" for the extension.
std::wstring finish_profile_filter(const std::wstring& extension);
// Lets the user choose where to save the profile and writes it by
// store(path); a cancelled dialog changes nothing. The extension must have
// 3 or 4 characters (internal error otherwise). Failures of store reach the
// caller.
void finish_store_profile(QWidget* owner, const std::wstring& extension, bool (*store)(const std::wstring& path));

template <uint32_t IDD>
class gui_finish_page : public wizard_page<IDD, wizb_finish, psp_hide_header> {
    using base = wizard_page<IDD, wizb_finish, psp_hide_header>;

public:
    explicit gui_finish_page(const std::wstring& error_text = finish_default_error_text,
                             const std::wstring& success_text = finish_default_success_text,
                             QWidget* parent = nullptr)
        : base(parent), m_success_text(success_text), m_error_text(error_text) {
        finish_build_dialog(*this);
    }

    // Every activation: the title font, Cancel and Help off, the result.
    bool page_init() override;

    const std::wstring& success_text() const { return m_success_text; }
    const std::wstring& error_text() const { return m_error_text; }
    bool first_focus() const { return m_first_focus; }

protected:
    // Whether the run reported an error (besides the frame's list).
    virtual bool run_failed() const { return false; }
    // Whether the run ended early, and what it did not convert.
    virtual bool run_stopped() const { return false; }
    virtual std::vector<std::pair<std::wstring, std::wstring>> not_converted() const { return {}; }
    // Whether the run had no table or query to convert.
    virtual bool nothing_converted() const { return false; }

private:
    bool m_first_focus = true;
    std::wstring m_success_text;
    std::wstring m_error_text;
};

// TConverter: the converter singleton class (store_profile_file,
// errors_reported).
template <class TConverter, uint32_t IDD>
class gui_finish_page_t : public gui_finish_page<IDD> {
public:
    explicit gui_finish_page_t(const std::wstring& error_text = finish_default_error_text,
                               const std::wstring& success_text = finish_default_success_text,
                               const std::wstring& extension = L"*", QWidget* parent = nullptr)
        : gui_finish_page<IDD>(error_text, success_text, parent), m_extension(extension) {
        this->on_click(idc_finish_store, [this] { on_store(); });
    }

    // "&Save Settings...": 0 whatever happened.
    int on_store() {
        finish_store_profile(this, m_extension, &store_with_converter);
        return 0;
    }

    const std::wstring& extension() const { return m_extension; }
    void set_extension(const std::wstring& extension) { m_extension = extension; }

protected:
    bool run_failed() const override {
        const TConverter* converter = TConverter::peek();
        return converter && converter->errors_reported.load() != 0;
    }
    bool run_stopped() const override {
        const TConverter* converter = TConverter::peek();
        return converter && converter->run_stopped.load();
    }
    std::vector<std::pair<std::wstring, std::wstring>> not_converted() const override {
        const TConverter* converter = TConverter::peek();
        return converter ? converter->not_converted : std::vector<std::pair<std::wstring, std::wstring>>();
    }
    bool nothing_converted() const override {
        // The run appends the selected tables to the list, which it keeps.
        const TConverter* converter = TConverter::peek();
        return converter && converter->table_queries.empty();
    }

private:
    static bool store_with_converter(const std::wstring& path) { return TConverter::ptr()->store_profile_file(path); }

    std::wstring m_extension;
};

// The window code of every instance; the frame's errors join the outcome.
void finish_page_init(wizard_page_common& page, const std::wstring& success_text, const std::wstring& error_text,
                      finish_outcome outcome);

template <uint32_t IDD>
bool gui_finish_page<IDD>::page_init() {
    finish_outcome outcome;
    outcome.run_failed = run_failed();
    outcome.stopped = run_stopped();
    if (outcome.stopped) outcome.not_converted = not_converted();
    outcome.nothing_converted = nothing_converted();
    finish_page_init(*this, m_success_text, m_error_text, std::move(outcome));
    return true;
}
