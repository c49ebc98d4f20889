// The one place where the wizard meets its user modally: message boxes,
// dialogs, file and folder choosers, the help window, the bug mail and the
// end of the process. The default seam shows real windows; tests install
// their own and answer. Every call is made on the GUI thread.
#pragma once
#include <cstdint>
#include <string>

#include <QString>
#include <QStringList>

class QDialog;
class QFileDialog;
class QMessageBox;
class QWidget;

// Message-box flags, combined by the callers.
inline constexpr uint32_t mb_ok = 0x0;
inline constexpr uint32_t mb_okcancel = 0x1;
inline constexpr uint32_t mb_yesnocancel = 0x3;
inline constexpr uint32_t mb_yesno = 0x4;
inline constexpr uint32_t mb_iconerror = 0x10;
inline constexpr uint32_t mb_iconquestion = 0x20;
inline constexpr uint32_t mb_iconwarning = 0x30;
inline constexpr uint32_t mb_iconinformation = 0x40;
inline constexpr uint32_t mb_defbutton2 = 0x100;
inline constexpr uint32_t mb_defbutton3 = 0x200;

// Answers of a message box (and the usual dialog results).
inline constexpr int id_ok = 1;
inline constexpr int id_cancel = 2;
inline constexpr int id_abort = 3;
inline constexpr int id_yes = 6;
inline constexpr int id_no = 7;

// Help commands: a topic, or the file's default page.
inline constexpr uint32_t help_display_topic = 0;
inline constexpr uint32_t help_context = 15;

struct gui_file_request {
    QWidget* owner = nullptr;
    bool save = false;        // save dialog, else open dialog
    bool must_exist = false;  // the chosen file must exist (open)
    QString title;
    QStringList filters;      // Qt name filters, "Description (*.ext)", in order
    QString directory;        // initial folder; empty: the chooser's own choice
    QString file_name;        // initial name
};

class gui_seam {
public:
    virtual ~gui_seam();

    // A message box with the flags above; returns id_ok, id_yes, id_no, ...
    virtual int message_box(QWidget* owner, const QString& caption, const QString& text, uint32_t flags);
    // Runs the dialog modally and returns its result.
    virtual int exec_dialog(QDialog& dialog);
    // True when the user chose a file; its path is then in chosen.
    virtual bool choose_file(const gui_file_request& request, QString& chosen);
    // True when the user chose a folder; its path is then in chosen.
    virtual bool choose_folder(QWidget* owner, const QString& title, const QString& start, QString& chosen);
    // Shows the help file at the topic (help_context) or at its default page.
    virtual void show_help(const QString& file, uint32_t command, uint32_t topic);
    // Hands the bug report to the desktop's mail program.
    virtual void send_bug(const std::string& product, const std::string& body);
    // Ends the process at once with the code; the default does not return.
    virtual void end_process(int code);
};

// The seam in use.
gui_seam& gui_current_seam();
// Installs a seam (null: the default one); returns the one it replaces.
// The caller keeps ownership.
gui_seam* gui_install_seam(gui_seam* seam);

// The real windows the default seam shows, built but not run (tests check
// their set-up).
QMessageBox* gui_make_message_box(QWidget* owner, const QString& caption, const QString& text, uint32_t flags);
QFileDialog* gui_make_file_dialog(const gui_file_request& request);
// A message text as the box shows it: each block between blank lines is one
// paragraph that the box wraps itself (the line breaks inside a block become
// blanks).
QString gui_box_paragraphs(const QString& text);
// The message-box answer for a standard button of Qt.
int gui_answer_of(int standard_button);
