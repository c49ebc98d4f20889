#include "g_seam.h"

#include <cstdio>
#include <atomic>
#include <cstdlib>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>

#include "g_help.h"
#include "tk_bug.h"
#include "tk_log.h"

namespace {

gui_seam default_seam;
std::atomic<gui_seam*> current_seam{&default_seam};

bool have_widgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

}  // namespace

gui_seam::~gui_seam() = default;

QString gui_box_paragraphs(const QString& text) {
    QStringList paragraphs;
    QStringList lines;
    auto end_paragraph = [&] {
        if (!lines.isEmpty()) paragraphs << lines.join(QLatin1Char(' '));
        lines.clear();
    };
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty())
            end_paragraph();
        else
            lines << trimmed;
    }
    end_paragraph();
    return paragraphs.join(QStringLiteral("\n\n"));
}

QMessageBox* gui_make_message_box(QWidget* owner, const QString& caption, const QString& text, uint32_t flags) {
    auto* box = new QMessageBox(owner);
    box->setWindowTitle(caption);
    box->setTextFormat(Qt::PlainText);
    box->setText(gui_box_paragraphs(text));
    switch (flags & 0xF0) {
    case mb_iconerror: box->setIcon(QMessageBox::Critical); break;
    case mb_iconquestion: box->setIcon(QMessageBox::Question); break;
    case mb_iconwarning: box->setIcon(QMessageBox::Warning); break;
    case mb_iconinformation: box->setIcon(QMessageBox::Information); break;
    default: box->setIcon(QMessageBox::NoIcon); break;
    }
    QList<QMessageBox::StandardButton> order;
    switch (flags & 0xF) {
    case mb_okcancel: order = {QMessageBox::Ok, QMessageBox::Cancel}; break;
    case mb_yesnocancel: order = {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}; break;
    case mb_yesno: order = {QMessageBox::Yes, QMessageBox::No}; break;
    default: order = {QMessageBox::Ok}; break;
    }
    QMessageBox::StandardButtons buttons;
    for (auto b : order) buttons |= b;
    box->setStandardButtons(buttons);
    // Every button has its Alt key.
    const std::pair<QMessageBox::StandardButton, const char*> keyed[] = {
        {QMessageBox::Ok, "O&K"},
        {QMessageBox::Cancel, "&Cancel"},
        {QMessageBox::Yes, "&Yes"},
        {QMessageBox::No, "&No"}};
    for (const auto& [which, label] : keyed)
        if (QAbstractButton* b = box->button(which)) b->setText(QString::fromLatin1(label));
    int def = (flags & mb_defbutton3) ? 2 : (flags & mb_defbutton2) ? 1 : 0;
    if (def >= order.size()) def = 0;
    box->setDefaultButton(order[def]);
    // The close box and Escape answer as the last button does (Cancel or No);
    // a box with OK only answers OK.
    box->setEscapeButton(box->button(order.back()));
    return box;
}

int gui_answer_of(int standard_button) {
    switch (standard_button) {
    case QMessageBox::Ok: return id_ok;
    case QMessageBox::Cancel: return id_cancel;
    case QMessageBox::Abort: return id_abort;
    case QMessageBox::Yes: return id_yes;
    case QMessageBox::No: return id_no;
    default: return id_cancel;
    }
}

QFileDialog* gui_make_file_dialog(const gui_file_request& request) {
    auto* dlg = new QFileDialog(request.owner, request.title, request.directory);
    dlg->setObjectName(request.save ? QStringLiteral("save_file") : QStringLiteral("open_file"));
    dlg->setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg->setFileMode(request.must_exist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // The save dialog asks nothing about a file that exists; the caller adds
    // the extension itself.
    dlg->setOption(QFileDialog::DontConfirmOverwrite, true);
    dlg->setOption(QFileDialog::HideNameFilterDetails, true);
    if (!request.filters.isEmpty()) dlg->setNameFilters(request.filters);
    if (!request.file_name.isEmpty()) dlg->selectFile(request.file_name);
    return dlg;
}

int gui_seam::message_box(QWidget* owner, const QString& caption, const QString& text, uint32_t flags) {
    if (!have_widgets()) {
        // No window system yet: the text goes to the error stream.
        std::fprintf(stderr, "%s: %s\n", caption.toUtf8().constData(), text.toUtf8().constData());
        return (flags & 0xF) == mb_yesno ? id_no : id_ok;
    }
    QMessageBox* box = gui_make_message_box(owner, caption, text, flags);
    box->exec();
    QAbstractButton* clicked = box->clickedButton();
    int answer = clicked ? gui_answer_of(box->standardButton(clicked)) : id_cancel;
    delete box;
    return answer;
}

int gui_seam::exec_dialog(QDialog& dialog) { return dialog.exec(); }

bool gui_seam::choose_file(const gui_file_request& request, QString& chosen) {
    QFileDialog* dlg = gui_make_file_dialog(request);
    bool ok = dlg->exec() == QDialog::Accepted && !dlg->selectedFiles().isEmpty();
    if (ok) chosen = dlg->selectedFiles().front();
    delete dlg;
    return ok;
}

bool gui_seam::choose_folder(QWidget* owner, const QString& title, const QString& start, QString& chosen) {
    QString dir = QFileDialog::getExistingDirectory(owner, title, start, QFileDialog::ShowDirsOnly);
    if (dir.isEmpty()) return false;
    chosen = dir;
    return true;
}

void gui_seam::show_help(const QString& file, uint32_t command, uint32_t topic) {
    gui_open_help(file, command == help_context ? topic : 0);
}

void gui_seam::send_bug(const std::string& product, const std::string& body) { tk_send_bug(product, body); }

void gui_seam::end_process(int code) {
    tk_log(2, "gui_seam::end_process(%d)", code);
    // Like an immediate process exit: no destructor and no exit handler runs,
    // other threads included; only the C streams are flushed.
    std::fflush(nullptr);
    std::_Exit(code);
}

gui_seam& gui_current_seam() { return *current_seam; }

gui_seam* gui_install_seam(gui_seam* seam) {
    gui_seam* old = current_seam.exchange(seam ? seam : &default_seam);
    return old == &default_seam ? nullptr : old;
}
