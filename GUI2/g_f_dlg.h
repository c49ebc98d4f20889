// Choosing a settings profile to open or save, and a folder.
#pragma once
#include <string>

#include <QStringList>

class QWidget;

// The extension of the wizard's settings profiles.
inline constexpr const wchar_t* kvr_profile_extension = L"kvr";

// A "|"-separated filter text ("Profile Files (.kvr)|*.kvr|...|") with every
// "|" made a NUL: the list of description and pattern texts.
std::wstring gui_bar_filter(const std::wstring& bar_separated);
// The Qt name filters of such a list: "description (patterns)" per pair;
// patterns separated by ";" are kept, "*.*" means every file.
QStringList gui_name_filters(const std::wstring& filter_list);
// The path with ".ext" appended unless its file name holds ".ext" already
// (case-sensitive, anywhere in the name). ext is given with its dot.
std::wstring gui_with_extension(const std::wstring& path, const std::wstring& ext);

// The choosers remember the folder last chosen; this forgets it.
void gui_forget_chosen_folder();
// The folder last chosen is kept with the settings of the last run, under
// the key (below the current user's keys): read at start (a folder that no
// longer exists is not taken), written at the end.
void gui_load_chosen_folder(const std::string& key_path);
void gui_store_chosen_folder(const std::string& key_path);

class file_dialog {
public:
    virtual ~file_dialog();
    // True when the user confirmed a file; its path is then file_name().
    virtual bool show() = 0;

    // In: the name part of the initial path; out: the chosen path.
    const std::wstring& file_name() const { return m_file_name; }
    // Drive and folder of the initial path.
    const std::wstring& initial_folder() const { return m_initial_folder; }

protected:
    // filter: the NUL-separated list; initial_path: split into folder and name
    // (an empty path: no name; the chooser starts in the folder last chosen,
    // else in the home folder).
    file_dialog(QWidget* owner, const std::wstring& filter, const std::wstring& title, const std::wstring& initial_path);
    bool run(bool save, bool must_exist);

    QWidget* m_owner;
    std::wstring m_filter;
    std::wstring m_title;
    std::wstring m_file_name;
    std::wstring m_initial_folder;
    bool m_no_initial_path;
};

// The chosen file must exist.
class open_file_dialog : public file_dialog {
public:
    open_file_dialog(QWidget* owner, const std::wstring& filter, const std::wstring& title,
                     const std::wstring& initial_path);
    bool show() override;
};

// Appends the default extension to a name that lacks it. A missing default
// extension is an internal error.
class save_file_dialog : public file_dialog {
public:
    save_file_dialog(QWidget* owner, const std::wstring& filter, const std::wstring& title,
                     const std::wstring& initial_path, const std::wstring& default_extension);
    bool show() override;
    // Always with its leading ".".
    const std::wstring& default_extension() const { return m_default_ext; }

private:
    std::wstring m_default_ext;
};

// The folder a folder chooser starts in: the destination, or the working
// folder when the destination is empty (empty when that cannot be read).
std::wstring browse_start_folder(const std::wstring& destination);
// Lets the user choose a folder, starting at browse_start_folder(destination).
// True when one was chosen; its path is then in chosen.
bool browse_for_folder(QWidget* owner, const std::wstring& title, const std::wstring& destination,
                       std::wstring& chosen);
