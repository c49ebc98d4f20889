// The first page: a title, a short text and "&Load Settings...", which loads
// a settings profile into the converter.
#pragma once
#include <cstdint>
#include <string>

#include "g_wiz_pg.h"

// Control ids of the welcome dialog.
inline constexpr int idc_welcome_title = 1337;
inline constexpr int idc_welcome_load = 1115;

// Builds the controls of the welcome dialog on the page.
void welcome_build_dialog(wizard_page_common& page);
// "Profile Files (.ext)|*.ext|All Files (*.*)|*.*|" for the extension.
std::wstring welcome_profile_filter(const std::wstring& extension);
// Lets the user choose a profile and loads it into the converter by
// load(path); failures are reported and the page stays. The extension must
// have 3 or 4 characters (internal error otherwise).
void welcome_load_profile(QWidget* owner, const std::wstring& extension,
                          bool (*load)(const std::wstring& path));

template <class TConverter, uint32_t IDD>
class welcome_page_t : public wizard_page<IDD, wizb_next, psp_hide_header | psp_has_help> {
public:
    explicit welcome_page_t(const std::wstring& extension = L"kvr", QWidget* parent = nullptr)
        : wizard_page<IDD, wizb_next, psp_hide_header | psp_has_help>(parent), m_extension(extension) {
        welcome_build_dialog(*this);
        this->on_click(idc_welcome_load, [this] { on_load(); });
    }

    // "&Load Settings...": 0 whatever happened.
    int on_load() {
        welcome_load_profile(this, m_extension, &load_with_converter);
        return 0;
    }

    const std::wstring& extension() const { return m_extension; }
    void set_extension(const std::wstring& extension) { m_extension = extension; }

private:
    static bool load_with_converter(const std::wstring& path) { return TConverter::ptr()->load_profile_file(path); }

    std::wstring m_extension;
};

class kellvar_converter;

class welcome_page : public welcome_page_t<kellvar_converter, 103> {
public:
    explicit welcome_page(const std::wstring& extension = L"kvr", QWidget* parent = nullptr);

    bool page_init() override;
    void on_help() override;
};
