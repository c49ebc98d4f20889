// The MySQL connection page against the test server: settings in and out of
// the converter, Next connecting, the friendly error texts, port checks and a
// password that never reaches the log.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <fstream>
#include <sstream>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "g_err_tab.h"
#include "kvr_busy.h"
#include "kvr_mysql_pg.h"
#include "page_test_support.h"
#include "param_names.h"
#include "tk_log.h"

namespace {

using namespace page_test;
using mysql_page = sql_settings_page2<kellvar_converter, 1010, 1015>;

class MysqlPage : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        first = add(std::make_unique<script_page>(*shell, 103, wizb_next, psp_hide_header, log));
        page = add(std::make_unique<mysql_page>());
        add_tail(105);
    }
    // Shows the page with the converter's settings.
    void open_page() {
        start();
        press(idc_next);
        ASSERT_EQ(active_id(), 123u);
    }
    QLineEdit* edit(int id) { return child<QLineEdit>(page, id); }
    QRadioButton* radio(int id) { return child<QRadioButton>(page, id); }
    // Types the settings of the test server, as a remote server.
    void type_server(const std::string& password, const std::string& port) {
        radio(idc_mysql_remote)->click();
        edit(idc_mysql_host)->setText(QString::fromStdString(server.host));
        edit(idc_mysql_port)->setText(QString::fromStdString(port));
        edit(idc_mysql_user)->setText(QString::fromStdString(server.user));
        edit(idc_mysql_password)->setText(QString::fromStdString(password));
    }

    fennrow_test::test_server server = fennrow_test::require_test_server();
    script_page* first = nullptr;
    mysql_page* page = nullptr;
};

FENNROW_SERVER_TESTS(MysqlPage);

TEST_F(MysqlPage, WithoutAHostThePageOpensOnLocal) {
    conv.user = "report";
    conv.password = "pw";
    open_page();
    EXPECT_TRUE(radio(idc_mysql_local)->isChecked());
    EXPECT_FALSE(edit(idc_mysql_host)->isEnabled());
    EXPECT_FALSE(edit(idc_mysql_port)->isEnabled());
    EXPECT_EQ(edit(idc_mysql_user)->text(), "report");
    EXPECT_EQ(edit(idc_mysql_password)->text(), "pw");
    // The password edit hides what is typed.
    EXPECT_EQ(edit(idc_mysql_password)->echoMode(), QLineEdit::Password);
    radio(idc_mysql_remote)->click();
    EXPECT_TRUE(edit(idc_mysql_host)->isEnabled());
    EXPECT_TRUE(edit(idc_mysql_port)->isEnabled());
    radio(idc_mysql_local)->click();
    EXPECT_FALSE(edit(idc_mysql_host)->isEnabled());
}

// Remote without a remembered port shows the default port the hint names.
TEST_F(MysqlPage, RemoteWithoutAPortShowsTheDefaultPort) {
    open_page();
    EXPECT_TRUE(edit(idc_mysql_port)->text().isEmpty());
    radio(idc_mysql_remote)->click();
    EXPECT_EQ(edit(idc_mysql_port)->text(), "3306");
    // A port typed by the user stays.
    edit(idc_mysql_port)->setText("3310");
    radio(idc_mysql_local)->click();
    radio(idc_mysql_remote)->click();
    EXPECT_EQ(edit(idc_mysql_port)->text(), "3310");
}

TEST_F(MysqlPage, EveryControlHasItsOwnMnemonic) {
    open_page();
    EXPECT_EQ(clashing_mnemonics(shell.get()), QString());
    const std::map<QChar, int> letters = mnemonic_counts(shell.get());
    for (QChar c : QStringLiteral("lruspobnh")) EXPECT_EQ(letters.count(c), 1u) << c.toLatin1();
}

TEST(MysqlPageErrors, TheLocalSocketAndASilentServerHaveFriendlyTexts) {
    script_seam seam;
    mysql_page_show_connect_error(sql_exception("Can't connect to local server through socket", 2002), 1015);
    mysql_page_show_connect_error(sql_exception("Lost connection to server at 'handshake'", 2013), 1015);
    ASSERT_EQ(seam.boxes.size(), 2u);
    EXPECT_TRUE(seam.boxes[0].text.startsWith("No MySQL server answers on this computer's local socket."));
    EXPECT_EQ(seam.boxes[1].text.toStdString(), gui_no_answer_text);
}

TEST_F(MysqlPage, BackStoresWithoutConnectingAndLocalMeansNoHostAndPort3306) {
    conv.host = "db.example";
    conv.port = "3310";
    open_page();
    EXPECT_TRUE(radio(idc_mysql_remote)->isChecked());
    EXPECT_EQ(edit(idc_mysql_host)->text(), "db.example");
    EXPECT_EQ(edit(idc_mysql_port)->text(), "3310");
    edit(idc_mysql_user)->setText(" someone ");
    edit(idc_mysql_port)->setText("3320");
    press(idc_back);
    EXPECT_EQ(active_id(), 103u);
    EXPECT_FALSE(conv.engine.is_connected());
    EXPECT_EQ(conv.host, "db.example");
    EXPECT_EQ(conv.port, "3320");
    EXPECT_EQ(conv.user, "someone");

    press(idc_next);
    EXPECT_EQ(edit(idc_mysql_port)->text(), "3320");
    radio(idc_mysql_local)->click();
    press(idc_back);
    EXPECT_EQ(conv.host, "");
    EXPECT_EQ(conv.port, "3306");
    EXPECT_TRUE(seam.boxes.empty());
}

TEST_F(MysqlPage, AGoodLoginMovesOnWithAnOpenConnection) {
    open_page();
    type_server(server.password, std::to_string(server.port));
    press(idc_next);
    EXPECT_TRUE(seam.boxes.empty()) << (seam.boxes.empty() ? "" : seam.boxes[0].text.toStdString());
    EXPECT_EQ(active_id(), 105u);
    EXPECT_TRUE(conv.engine.is_connected());
    EXPECT_EQ(conv.host, server.host);
    EXPECT_EQ(conv.port, std::to_string(server.port));
}

TEST_F(MysqlPage, AWrongPasswordShowsTheFriendlyTextAndThePageStays) {
    open_page();
    type_server("not-the-password", std::to_string(server.port));
    press(idc_next);
    EXPECT_EQ(active_id(), 123u);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text,
              "Access denied. Verify the user name and password are correct, and you have\n"
              "the necessary privileges to connect to the target MySQL server.");
    EXPECT_EQ(seam.boxes[0].caption, "Fennrow 1.5  Error");
    EXPECT_EQ(seam.boxes[0].flags, mb_iconerror);
    // Shown directly: not a conversion error for the finish page.
    EXPECT_EQ(shell->error_count(), 0u);
    EXPECT_TRUE(seam.helps.empty());
    // Corrected, Next goes on.
    edit(idc_mysql_password)->setText(QString::fromStdString(server.password));
    press(idc_next);
    EXPECT_EQ(active_id(), 105u);
}

TEST_F(MysqlPage, AServerThatDoesNotAnswerShowsTheCannotConnectText) {
    open_page();
    // A port where nothing listens: the test server's own port plus one is
    // not guaranteed free, so the reserved port 1 is used.
    type_server(server.password, "1");
    press(idc_next);
    EXPECT_EQ(active_id(), 123u);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text,
              "Cannot connect to the MySQL server. Check to verify that MySQL server\n"
              "is launched and the correct host/port values were given.");
}

class SilentServer : public MysqlPage {
protected:
    void SetUp() override {
        MysqlPage::SetUp();
        ASSERT_GT(silent.port(), 0);
        open_page();
        radio(idc_mysql_remote)->click();
        edit(idc_mysql_host)->setText("127.0.0.1");
        edit(idc_mysql_port)->setText(QString::number(silent.port()));
    }
    void TearDown() override {
        kvr_server_call_limit_ms = saved_limit;
        MysqlPage::TearDown();
    }
    silent_server silent;
    int saved_limit = kvr_server_call_limit_ms;
};

FENNROW_SERVER_TESTS(SilentServer);

TEST_F(SilentServer, WhileConnectingTheWindowIsResponsiveAndCancelCutsTheCall) {
    bool ticked = false, busy_cursor = false, page_blocked = false, next_blocked = false;
    bool cancel_enabled = false;
    // This runs while Next waits for the server: the window's events go on.
    QTimer::singleShot(300, shell.get(), [&] {
        ticked = true;
        busy_cursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BusyCursor;
        page_blocked = !page->isEnabled() || !page->isEnabledTo(nullptr);
        next_blocked = !shell->button(idc_next)->isEnabled();
        cancel_enabled = shell->button(idc_cancel)->isEnabled();
        press(idc_cancel);
    });
    const auto started = std::chrono::steady_clock::now();
    press(idc_next);
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(ticked);
    EXPECT_TRUE(busy_cursor);
    EXPECT_TRUE(page_blocked);
    EXPECT_TRUE(next_blocked);
    EXPECT_TRUE(cancel_enabled);
    // Cut long before the client library's own limit of 10 s; nothing asked,
    // nothing shown, the page stays and takes input again.
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_TRUE(seam.boxes.empty());
    EXPECT_EQ(active_id(), 123u);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(shell->button(idc_next)->isEnabled());
    EXPECT_TRUE(page->isEnabledTo(nullptr));
    // The real server is reached afterwards as usual.
    edit(idc_mysql_host)->setText(QString::fromStdString(server.host));
    edit(idc_mysql_port)->setText(QString::number(server.port));
    edit(idc_mysql_user)->setText(QString::fromStdString(server.user));
    edit(idc_mysql_password)->setText(QString::fromStdString(server.password));
    press(idc_next);
    EXPECT_EQ(active_id(), 105u);
}

TEST_F(SilentServer, NoAnswerWithinTheTimeLimitShowsTheFriendlyText) {
    kvr_server_call_limit_ms = 400;
    press(idc_next);
    EXPECT_EQ(active_id(), 123u);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text.toStdString(), gui_no_answer_text);
    EXPECT_EQ(seam.boxes[0].flags, mb_iconerror);
}

class MysqlPorts : public MysqlPage, public ::testing::WithParamInterface<const char*> {};

FENNROW_SERVER_TESTS(MysqlPorts);

TEST_P(MysqlPorts, APortOutsideOneTo65535IsRefusedBeforeConnecting) {
    open_page();
    type_server(server.password, GetParam());
    press(idc_next);
    EXPECT_EQ(active_id(), 123u);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, "Invalid port number");
    EXPECT_FALSE(conv.engine.is_connected());
}

INSTANTIATE_TEST_SUITE_P(Bad, MysqlPorts,
                         ::testing::Values("", "   ", "0", "65536", "99999999999", "abc", "33a06", "3306x", "-1",
                                           "+3306", "3 306"),
                         [](const auto& info) { return test_names::indexed(info.index, info.param); });

TEST_F(MysqlPage, APortWithBlanksAroundItIsTaken) {
    open_page();
    type_server(server.password, " " + std::to_string(server.port) + " ");
    press(idc_next);
    EXPECT_TRUE(seam.boxes.empty());
    EXPECT_EQ(active_id(), 105u);
}

void expect_port_rules() {
    EXPECT_TRUE(mysql_page_valid_port("1"));
    EXPECT_TRUE(mysql_page_valid_port("65535"));
    EXPECT_TRUE(mysql_page_valid_port("\t3306 "));
    EXPECT_TRUE(mysql_page_valid_port("03306"));
    EXPECT_FALSE(mysql_page_valid_port("65536"));
    EXPECT_FALSE(mysql_page_valid_port("0"));
    EXPECT_FALSE(mysql_page_valid_port("3.306"));
    EXPECT_FALSE(mysql_page_valid_port("3,306"));
}

TEST(MysqlPagePort, ValidPorts) { expect_port_rules(); }

TEST(MysqlPagePort, ValidPortsUnderAGermanLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    expect_port_rules();
    std::setlocale(LC_ALL, saved.c_str());
}

TEST_F(MysqlPage, ThePasswordNeverReachesTheLog) {
    temp_dir dir;
    const std::string log_path = dir.sub("trace.log");
    tk_logger logger(log_path.c_str(), true, 1, false);
    open_page();
    const std::string wrong = "Wr0ng-Pa55-Zq";
    type_server(wrong, std::to_string(server.port));
    press(idc_next);
    edit(idc_mysql_password)->setText(QString::fromStdString(server.password));
    press(idc_next);
    EXPECT_EQ(active_id(), 105u);
    std::ifstream in(log_path);
    std::stringstream text;
    text << in.rdbuf();
    const std::string all = text.str();
    EXPECT_NE(all.find("sql_settings_page2::on_next"), std::string::npos) << "nothing was logged";
    EXPECT_EQ(all.find(wrong), std::string::npos);
    if (server.password.size() >= 4) {
        EXPECT_EQ(all.find(server.password), std::string::npos);
    }
}

TEST(MysqlPageErrors, ProtocolErrorsAlsoOpenTheirHelpTopic) {
    script_seam seam;
    // Without a help file the help request shows its own box; either way a
    // second box or a help call follows only for 1249 and 1250.
    struct row {
        uint32_t number;
        bool help;
    } rows[] = {{1249, true}, {1250, true}, {1251, false}, {1045, false}};
    for (const row& r : rows) {
        seam.boxes.clear();
        seam.helps.clear();
        mysql_page_show_connect_error(sql_exception("refused", r.number), 1015);
        const size_t extra = seam.helps.size() + (seam.boxes.size() > 1 ? seam.boxes.size() - 1 : 0);
        EXPECT_EQ(extra, r.help ? 1u : 0u) << r.number;
        ASSERT_FALSE(seam.boxes.empty());
        tk_error_converter table(gui_error_table_size, gui_error_table);
        EXPECT_EQ(seam.boxes[0].text.toStdString(), table.convert(0x400000 | r.number));
        for (const auto& h : seam.helps) EXPECT_EQ(h.topic, 1015u);
    }
    // A code the table does not know shows the exception's own text.
    seam.boxes.clear();
    mysql_page_show_connect_error(tk_exception(std::string("Invalid port number"), 1), 1015);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, "Invalid port number");
}

}  // namespace
