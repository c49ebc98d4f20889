// Bug reports: a prepared mail handed to the desktop's mail program
// (xdg-email). The recipient is fixed when the program is built.
#pragma once
#include <ctime>
#include <string>
#include <vector>

struct tk_bug_message {
    std::string subject;        // "Bug report on " and the product
    std::string date_received;  // local time "year/month/day hour:minute", unpadded
    std::string note_text;      // the report itself
    std::string recipient;      // the support address
};

// The support address of this build.
const char* tk_bug_support_address();

// "%d/%d/%d %d:%d": year, month, day, hour, minute.
std::string tk_bug_date_text(const std::tm& local_time);

// The message for the product and body; the date is left empty when now is null.
tk_bug_message tk_make_bug_message(const std::string& product, const std::string& body, const std::tm* now);

// Arguments after the program name for xdg-email.
std::vector<std::string> tk_bug_mail_arguments(const tk_bug_message& message);

// The full path of an executable found on PATH; empty when there is none.
std::string tk_find_program(const std::string& name);

// Opens the mail program with the report for the current local time. Never
// throws for ordinary failures: they are logged and no mail is prepared.
void tk_send_bug(const std::string& product, const std::string& body);
