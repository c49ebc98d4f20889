// A seam that records what the wizard shows and answers from the test, and
// pages whose answers the test sets.
#pragma once
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialog>
#include <QThread>

#include "g_seam.h"
#include "g_wiz_base.h"
#include "g_wiz_sh.h"

struct recorded_box {
    QWidget* owner;
    QString caption;
    QString text;
    uint32_t flags;
    bool on_gui_thread;
};

struct recorded_help {
    QString file;
    uint32_t command;
    uint32_t topic;
};

class script_seam : public gui_seam {
public:
    script_seam() { m_previous = gui_install_seam(this); }
    ~script_seam() override { gui_install_seam(m_previous); }

    int message_box(QWidget* owner, const QString& caption, const QString& text, uint32_t flags) override {
        boxes.push_back({owner, caption, text, flags, QThread::currentThread() == qApp->thread()});
        if (box_answers.empty()) return id_ok;
        int a = box_answers.front();
        box_answers.pop_front();
        return a;
    }
    // Shows the dialog (its set-up runs), lets the test act on it and
    // returns the result it was closed with (-1 when it stayed open).
    int exec_dialog(QDialog& dialog) override {
        dialog_names.push_back(dialog.objectName());
        dialog_threads_gui.push_back(QThread::currentThread() == qApp->thread());
        dialog.setResult(-1);
        dialog.show();
        if (on_dialog) on_dialog(dialog);
        int r = dialog.isVisible() ? -1 : dialog.result();
        dialog.hide();
        return r;
    }
    bool choose_file(const gui_file_request& request, QString& chosen) override {
        file_requests.push_back(request);
        if (file_answers.empty()) return false;
        QString a = file_answers.front();
        file_answers.pop_front();
        if (a.isEmpty()) return false;
        chosen = a;
        return true;
    }
    bool choose_folder(QWidget*, const QString& title, const QString& start, QString& chosen) override {
        folder_requests.push_back({title, start});
        if (folder_answer.isEmpty()) return false;
        chosen = folder_answer;
        return true;
    }
    void show_help(const QString& file, uint32_t command, uint32_t topic) override {
        helps.push_back({file, command, topic});
    }
    void send_bug(const std::string& product, const std::string& body) override { bugs.push_back({product, body}); }
    void end_process(int code) override {
        if (real_exit) gui_seam::end_process(code);
        exits.push_back(code);
    }

    std::vector<recorded_box> boxes;
    std::deque<int> box_answers;
    std::function<void(QDialog&)> on_dialog;
    std::vector<QString> dialog_names;
    std::vector<bool> dialog_threads_gui;
    std::vector<gui_file_request> file_requests;
    std::deque<QString> file_answers;
    std::vector<std::pair<QString, QString>> folder_requests;
    QString folder_answer;
    std::vector<recorded_help> helps;
    std::vector<std::pair<std::string, std::string>> bugs;
    std::vector<int> exits;
    bool real_exit = false;

private:
    gui_seam* m_previous;
};

// Clicks the control with that id in the dialog.
inline void click_control(QWidget& dialog, int id) {
    auto* b = dialog.findChild<QAbstractButton*>(QString::number(id));
    if (b) b->click();
}

// Runs the GUI thread's events until pred holds (or a generous limit passes).
inline bool pump_until(const std::function<bool()>& pred) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A page that logs every notification and answers as the test says; on
// activation it does what a page does: buttons, initialisation, current page.
class script_page : public wizard_page_base {
public:
    script_page(wizard_shell& shell, uint32_t id, uint32_t buttons, uint32_t flags, std::vector<std::string>& log)
        : wizard_page_base(id, flags), m_shell(shell), m_buttons(buttons), m_log(log) {}

    int notify_set_active() override {
        note("set_active");
        m_shell.set_wizard_buttons(m_buttons);
        m_shell.initialize_if();
        m_shell.set_current_page(this);
        return activate_answer;
    }
    bool notify_kill_active() override {
        note("kill_active");
        return may_leave;
    }
    int notify_wizard_back() override {
        note("back");
        return back_answer;
    }
    int notify_wizard_next() override {
        note("next");
        return next_answer;
    }
    bool notify_wizard_finish() override {
        note("finish");
        return may_finish;
    }
    bool notify_query_cancel() override {
        note("query_cancel");
        return may_cancel;
    }
    void notify_help() override { note("help"); }
    void notify_timer(uint32_t id) override {
        timers.push_back(id);
        if (QThread::currentThread() != qApp->thread()) timer_off_gui_thread = true;
    }
    void notify_reset() override { note("reset"); }

    int activate_answer = page_go_on;
    bool may_leave = true;
    int back_answer = page_go_on;
    int next_answer = page_go_on;
    bool may_finish = true;
    bool may_cancel = true;
    std::vector<uint32_t> timers;
    bool timer_off_gui_thread = false;

private:
    void note(const char* what) { m_log.push_back(std::string(what) + " " + std::to_string(dialog_id())); }
    wizard_shell& m_shell;
    uint32_t m_buttons;
    std::vector<std::string>& m_log;
};
