// The table selection page and the query dialog against the test server:
// the lists, moving entries, stored queries, the converter's lists on Next,
// and testing a query without running it.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyleOptionViewItem>
#include <QTest>
#include <QTimer>

#include "g_err_dlg.h"
#include "g_err_tab.h"
#include "kvr_busy.h"
#include "kvr_query_dlg.h"
#include "kvr_tables_pg.h"
#include "page_test_support.h"
#include "param_names.h"

namespace {

using namespace page_test;
using name_query = std::pair<std::wstring, std::wstring>;

const std::string not_listed =
    "The tables of the source database could not be listed.\n"
    "Go back and check the connection and the database name.";

class TablesPage : public PageTest {
protected:
    void SetUp() override {
        PageTest::SetUp();
        db.conn().exec(
            "CREATE TABLE alpha (id INT PRIMARY KEY);"
            "CREATE TABLE Beta (id INT PRIMARY KEY);"
            "CREATE TABLE gamma (id INT PRIMARY KEY);"
            "CREATE TABLE delta (id INT PRIMARY KEY, v VARCHAR(10));"
            "INSERT INTO delta VALUES (1, 'one'), (2, 'two')");
        connect_to_server();
        conv.source = QString::fromStdString(db.name()).toStdWString();
        first = add(std::make_unique<script_page>(*shell, 105, wizb_back | wizb_next, psp_has_help, log));
        page = add(std::make_unique<kvr_sel_tables_page>());
        add_tail(108);
    }
    void open_page() {
        start();
        press(idc_next);
        ASSERT_EQ(active_id(), 127u);
    }
    QStringList available() { return list_texts(page->available_list()); }
    QStringList selected() { return list_texts(page->selected_list()); }
    void click(int id) { child<QAbstractButton>(page, id)->click(); }
    // Selects these entries of the available list.
    void pick(const QStringList& names) {
        gui_list_box* list = page->available_list();
        list->clearSelection();
        for (const QString& n : names) list->item(list->find_exact_case(n))->setSelected(true);
    }
    // Fills the query dialog and presses one of its buttons.
    static void fill(QDialog& d, const QString& name, const QString& query, int button) {
        child<QLineEdit>(&d, idc_query_name)->setText(name);
        child<QPlainTextEdit>(&d, idc_query_text)->setPlainText(query);
        click_control(d, button);
    }

    fennrow_test::test_database db{"pages_tables"};
    script_page* first = nullptr;
    kvr_sel_tables_page* page = nullptr;
};

FENNROW_SERVER_TESTS(TablesPage);

TEST_F(TablesPage, OffersTheDatabasesTablesSortedWithTheFirstHighlighted) {
    open_page();
    EXPECT_EQ(available(), (QStringList{"alpha", "Beta", "delta", "gamma"}));
    EXPECT_TRUE(selected().isEmpty());
    EXPECT_EQ(page->available_list()->selected_indexes(), QList<int>{0});
    EXPECT_FALSE(child<QPushButton>(page, idc_tables_add_query)->isHidden());
    EXPECT_TRUE(child<QPushButton>(page, idc_tables_up)->isHidden());
    EXPECT_EQ(child<QLabel>(page, idc_tables_text)->text(), "Select MySQL tables to convert into CSV format.");
    EXPECT_EQ(child<QLabel>(page, idc_tables_available_label)->text(), "&Available tables:");
    EXPECT_EQ(child<QLabel>(page, idc_tables_selected_label)->text(), "&Selected tables:");
}

TEST_F(TablesPage, AddMovesTheSelectedEntriesAndNextFillsTheConverter) {
    open_page();
    pick({"Beta", "delta"});
    click(idc_tables_add);
    EXPECT_EQ(available(), (QStringList{"alpha", "gamma"}));
    EXPECT_EQ(selected(), (QStringList{"Beta", "delta"}));
    // The entry after the moved ones is highlighted.
    EXPECT_EQ(page->available_list()->selected_indexes(), QList<int>{1});
    press(idc_next);
    EXPECT_EQ(active_id(), 108u);
    EXPECT_EQ(conv.selected_tables, (std::vector<std::wstring>{L"Beta", L"delta"}));
    EXPECT_TRUE(conv.table_queries.empty());
    EXPECT_TRUE(seam.boxes.empty());
}

TEST_F(TablesPage, AddAllAndRemoveAll) {
    open_page();
    click(idc_tables_add_all);
    EXPECT_TRUE(available().isEmpty());
    EXPECT_EQ(selected(), (QStringList{"alpha", "Beta", "delta", "gamma"}));
    page->selected_list()->select_only(2);
    click(idc_tables_remove);
    EXPECT_EQ(available(), QStringList{"delta"});
    click(idc_tables_remove_all);
    EXPECT_EQ(available(), (QStringList{"alpha", "Beta", "delta", "gamma"}));
    EXPECT_TRUE(selected().isEmpty());
    // Double-clicking an available table adds the selection.
    pick({"gamma"});
    QListWidget* list = page->available_list();
    emit list->itemDoubleClicked(list->item(3));
    EXPECT_EQ(selected(), QStringList{"gamma"});
}

TEST_F(TablesPage, NextWithNothingSelectedAsksAndNoStays) {
    conv.selected_tables = {L"stale"};
    open_page();
    seam.box_answers = {id_no};
    press(idc_next);
    EXPECT_EQ(active_id(), 127u);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, "There are no tables selected. Continue anyway?");
    EXPECT_EQ(seam.boxes[0].flags, mb_yesno | mb_iconquestion | mb_defbutton2);
    EXPECT_EQ(conv.selected_tables, std::vector<std::wstring>{L"stale"});
    seam.box_answers = {id_yes};
    press(idc_next);
    EXPECT_EQ(active_id(), 108u);
    EXPECT_TRUE(conv.selected_tables.empty());
}

TEST_F(TablesPage, TheConvertersQueriesAndTablesAreRestored) {
    conv.table_queries = {{L"Beta", L""}, {L"big", L"SELECT * FROM delta"}, {L"missing", L""}};
    conv.available_queries = {{L"spare", L"SELECT id FROM alpha"}};
    conv.selected_tables = {L"gamma"};
    open_page();
    EXPECT_EQ(selected(), (QStringList{"Beta", "big", "gamma"}));
    EXPECT_EQ(available(), (QStringList{"alpha", "delta", "spare"}));

    // A query moved back is an available query; an available one selected
    // becomes a selected query.
    page->selected_list()->select_only(page->selected_list()->find_exact_case("big"));
    click(idc_tables_remove);
    pick({"spare"});
    click(idc_tables_add);
    press(idc_next);
    EXPECT_EQ(conv.selected_tables, (std::vector<std::wstring>{L"Beta", L"gamma"}));
    EXPECT_EQ(conv.table_queries, (std::vector<name_query>{{L"spare", L"SELECT id FROM alpha"}}));
    EXPECT_EQ(conv.available_queries, (std::vector<name_query>{{L"big", L"SELECT * FROM delta"}}));

    // Another visit shows the same, each query once.
    press(idc_back);
    press(idc_next);
    EXPECT_EQ(selected(), (QStringList{"Beta", "gamma", "spare"}));
    EXPECT_EQ(available(), (QStringList{"alpha", "big", "delta"}));
    press(idc_next);
    EXPECT_EQ(conv.available_queries.size(), 1u);
    EXPECT_EQ(conv.table_queries.size(), 1u);
}

// The entries that are queries carry the list's "(query)" mark wherever they
// go; their texts stay their names.
QStringList marked(gui_list_box* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        if (list->is_marked(i)) out << list->text_at(i);
    return out;
}

TEST_F(TablesPage, QueriesAreMarkedInBothLists) {
    conv.table_queries = {{L"big", L"SELECT * FROM delta"}};
    conv.available_queries = {{L"spare", L"SELECT id FROM alpha"}};
    open_page();
    EXPECT_EQ(marked(page->selected_list()), QStringList{"big"});
    EXPECT_EQ(marked(page->available_list()), QStringList{"spare"});
    click(idc_tables_add_all);
    EXPECT_EQ(marked(page->selected_list()), (QStringList{"big", "spare"}));
    EXPECT_TRUE(selected().contains("spare"));
    click(idc_tables_remove_all);
    EXPECT_EQ(marked(page->available_list()), (QStringList{"big", "spare"}));
    seam.on_dialog = [&](QDialog& d) { fill(d, "fresh", "SELECT 1", idc_query_ok); };
    click(idc_tables_add_query);
    EXPECT_EQ(marked(page->selected_list()), QStringList{"fresh"});
    // The mark is drawn after the name, as no part of it.
    gui_list_box* list = page->selected_list();
    QStyleOptionViewItem option;
    option.initFrom(list);
    const QModelIndex index = list->model()->index(0, 0);
    const int marked_width = list->itemDelegate()->sizeHint(option, index).width();
    list->set_marked(0, false);
    EXPECT_GT(marked_width, list->itemDelegate()->sizeHint(option, index).width());
}

TEST_F(TablesPage, BackKeepsTheSelectionForTheNextVisit) {
    open_page();
    pick({"alpha"});
    click(idc_tables_add);
    press(idc_back);
    EXPECT_EQ(active_id(), 105u);
    EXPECT_TRUE(seam.boxes.empty());
    EXPECT_EQ(conv.selected_tables, std::vector<std::wstring>{L"alpha"});
    press(idc_next);
    EXPECT_EQ(selected(), QStringList{"alpha"});
}

TEST_F(TablesPage, AddQueryAddsANewNameAndRefusesADuplicateOfASelectedOne) {
    open_page();
    pick({"Beta"});
    click(idc_tables_add);
    std::vector<std::pair<QString, QString>> shown;
    int round = 0;
    seam.on_dialog = [&](QDialog& d) {
        shown.emplace_back(child<QLineEdit>(&d, idc_query_name)->text(),
                           child<QPlainTextEdit>(&d, idc_query_text)->toPlainText());
        ++round;
        if (round == 1)
            fill(d, "BETA", "select id from Beta", idc_query_ok);  // taken by a selected table
        else if (round == 2)
            fill(d, "gamma", "  select id from Beta", idc_query_ok);  // a table still available: fine
    };
    click(idc_tables_add_query);
    EXPECT_EQ(round, 2);
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0], (std::pair<QString, QString>{"", ""}));
    // The dialog opened again with what was typed.
    EXPECT_EQ(shown[1], (std::pair<QString, QString>{"BETA", "select id from Beta"}));
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text, "Duplicate table name. Try again.");
    EXPECT_EQ(selected(), (QStringList{"Beta", "gamma"}));
    EXPECT_TRUE(page->is_query(L"gamma"));

    press(idc_next);
    EXPECT_EQ(conv.selected_tables, std::vector<std::wstring>{L"Beta"});
    // Leading blanks are gone from the stored query.
    EXPECT_EQ(conv.table_queries, (std::vector<name_query>{{L"gamma", L"select id from Beta"}}));
}

TEST_F(TablesPage, CancelledAddQueryAddsNothingAndAQueryCanBeEdited) {
    conv.table_queries = {{L"big", L"SELECT * FROM delta"}};
    open_page();
    seam.on_dialog = [&](QDialog& d) { click_control(d, idc_query_cancel); };
    click(idc_tables_add_query);
    EXPECT_EQ(selected(), QStringList{"big"});

    QString shown_query;
    seam.on_dialog = [&](QDialog& d) {
        shown_query = child<QPlainTextEdit>(&d, idc_query_text)->toPlainText();
        fill(d, "all_delta", "SELECT v FROM delta", idc_query_ok);
    };
    gui_list_box* list = page->selected_list();
    list->setCurrentRow(0);
    emit list->itemDoubleClicked(list->item(0));
    EXPECT_EQ(shown_query, "SELECT * FROM delta");
    EXPECT_EQ(selected(), QStringList{"all_delta"});
    // A table is not edited.
    pick({"alpha"});
    click(idc_tables_add);
    seam.dialog_names.clear();
    list->setCurrentRow(list->find_exact_case("alpha"));
    emit list->itemDoubleClicked(list->currentItem());
    EXPECT_TRUE(seam.dialog_names.empty());
    press(idc_next);
    EXPECT_EQ(conv.table_queries, (std::vector<name_query>{{L"all_delta", L"SELECT v FROM delta"}}));
}

// Every control on show has its own mnemonic; Alt+Q opens the query dialog.
TEST_F(TablesPage, MnemonicsAreUniqueAndAddQueryOpensByKeyboard) {
    open_page();
    EXPECT_EQ(clashing_mnemonics(shell.get()), QString());
    const std::map<QChar, int> letters = mnemonic_counts(shell.get());
    for (QChar c : QStringLiteral("asdlrmq")) EXPECT_EQ(letters.count(c), 1u) << c.toLatin1();
    ASSERT_TRUE(pump_until([&] {
        if (QApplication::activeWindow() != shell.get()) shell->activateWindow();
        return QApplication::activeWindow() == shell.get();
    }));
    seam.on_dialog = [&](QDialog& d) { d.reject(); };
    QTest::keyClick(shell.get(), Qt::Key_Q, Qt::AltModifier);
    // A button's mnemonic clicks it as an animated click.
    EXPECT_TRUE(pump_until([&] { return !seam.dialog_names.empty(); }));
    EXPECT_EQ(seam.dialog_names, std::vector<QString>{"128"});
}

TEST_F(TablesPage, TheQueryDialogsControlsHaveTheirOwnMnemonics) {
    set_query_dlg<kellvar_converter, 1025> dlg(L"", L"", nullptr);
    QString clashes = "-";
    std::map<QChar, int> letters;
    seam.on_dialog = [&](QDialog& d) {
        clashes = clashing_mnemonics(&d);
        letters = mnemonic_counts(&d);
        d.reject();
    };
    dlg.run();
    EXPECT_EQ(clashes, QString());
    for (QChar c : QStringLiteral("sqthkc")) EXPECT_EQ(letters.count(c), 1u) << c.toLatin1();
}

// Alt+letter in the multi-line query field is left to the mnemonics: a letter
// that no control has is not typed, one that a button has presses it.
TEST_F(TablesPage, AltKeysAreNotTypedIntoTheQueryField) {
    set_query_dlg<kellvar_converter, 1025> dlg(L"", L"", nullptr);
    QString typed;
    seam.on_dialog = [&](QDialog& d) {
        ASSERT_TRUE(pump_until([&] {
            if (QApplication::activeWindow() != &d) d.activateWindow();
            return QApplication::activeWindow() == &d;
        }));
        auto* edit = child<QPlainTextEdit>(&d, idc_query_text);
        edit->setFocus();
        QTest::keyClicks(edit, "SELECT * FROM nonexistent_tbl");
        QTest::keyClick(edit, Qt::Key_X, Qt::AltModifier);
        QTest::keyClick(edit, Qt::Key_Z, Qt::AltModifier);
        typed = edit->toPlainText();
        QTest::keyClick(edit, Qt::Key_C, Qt::AltModifier);
        pump_until([&] { return !d.isVisible(); });
    };
    EXPECT_EQ(dlg.run(), idc_query_cancel);
    EXPECT_EQ(typed, "SELECT * FROM nonexistent_tbl");
}

// A listing that fails is not entered: the page before stays, with the
// reason, and the converter's lists (a profile's selection) stay as they were.
TEST_F(TablesPage, ASourceThatCannotBeListedIsReportedAndKeepsThePreviousPage) {
    conv.source = L"no_such_database_here";
    conv.selected_tables = {L"alpha"};
    conv.table_queries = {{L"big", L"SELECT * FROM delta"}};
    start();
    press(idc_next);
    EXPECT_EQ(active_id(), 105u);
    EXPECT_EQ(shell->current_page(), first);
    EXPECT_TRUE(shell->button(idc_next)->isEnabled());
    EXPECT_TRUE(seam.dialog_names.empty());
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_TRUE(seam.boxes[0].text.startsWith(QString::fromStdString(not_listed) + "\n\n"));
    EXPECT_TRUE(seam.boxes[0].text.contains("no_such_database_here")) << seam.boxes[0].text.toStdString();
    EXPECT_EQ(conv.selected_tables, std::vector<std::wstring>{L"alpha"});
    EXPECT_EQ(conv.table_queries.size(), 1u);
}

// The listing cut by Cancel, or by the time limit, while the server does not
// answer: the page before stays and the profile's tables are kept; once the
// server answers again, Next shows them selected and hands them on.
class TablesCut : public TablesPage, public ::testing::WithParamInterface<bool> {
protected:
    void TearDown() override {
        kvr_server_call_limit_ms = saved_limit;
        TablesPage::TearDown();
    }
    int saved_limit = kvr_server_call_limit_ms;
};

FENNROW_SERVER_TESTS(TablesCut);

TEST_P(TablesCut, ACutListingKeepsThePreviousPageAndTheProfilesSelection) {
    const bool by_cancel = GetParam();
    const fennrow_test::test_server server = fennrow_test::require_test_server();
    silent_server silent;
    ASSERT_GT(silent.port(), 0);
    conv.selected_tables = {L"alpha", L"gamma"};
    conv.table_queries = {{L"big", L"SELECT * FROM delta"}};
    start();
    // The listing has to connect again, to a server that never answers.
    conv.store_mysql_settings("127.0.0.1", server.user, server.password, std::to_string(silent.port()));
    conv.mark_connection_cut();
    if (by_cancel)
        QTimer::singleShot(300, shell.get(), [&] { press(idc_cancel); });
    else
        kvr_server_call_limit_ms = 300;
    press(idc_next);
    kvr_server_call_limit_ms = saved_limit;
    EXPECT_EQ(active_id(), 105u);
    EXPECT_EQ(shell->current_page(), first);
    EXPECT_TRUE(shell->button(idc_next)->isEnabled());
    if (by_cancel) {
        EXPECT_TRUE(seam.boxes.empty());
    } else {
        ASSERT_EQ(seam.boxes.size(), 1u);
        EXPECT_EQ(seam.boxes[0].text.toStdString(), gui_no_answer_text);
    }
    EXPECT_EQ(conv.selected_tables, (std::vector<std::wstring>{L"alpha", L"gamma"}));
    ASSERT_EQ(conv.table_queries.size(), 1u);

    conv.store_mysql_settings(server.host, server.user, server.password, std::to_string(server.port));
    press(idc_next);
    ASSERT_EQ(active_id(), 127u);
    EXPECT_EQ(selected(), (QStringList{"alpha", "big", "gamma"}));
    press(idc_next);
    EXPECT_EQ(active_id(), 108u);
    EXPECT_EQ(conv.selected_tables, (std::vector<std::wstring>{L"alpha", L"gamma"}));
    ASSERT_EQ(conv.table_queries.size(), 1u);
    EXPECT_EQ(conv.table_queries[0].first, L"big");
}

INSTANTIATE_TEST_SUITE_P(By, TablesCut, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "cancel" : "time_limit"); });

// A server that hangs up before its greeting, after an earlier call was cut:
// the listing and Test Query say that the server does not answer, never that
// the query is wrong, and never the client's own text alone.
TEST_F(TablesPage, AServerThatDoesNotAnswerIsReportedAsSuchByTheListingAndTestQuery) {
    const fennrow_test::test_server server = fennrow_test::require_test_server();
    open_page();
    hang_up_server gone;
    ASSERT_GT(gone.port(), 0);
    conv.store_mysql_settings("127.0.0.1", server.user, server.password, std::to_string(gone.port()));
    conv.mark_connection_cut();
    set_query_dlg<kellvar_converter, 1025> dlg(L"", L"", nullptr);
    seam.on_dialog = [&](QDialog& d) {
        fill(d, "q", "SELECT v FROM delta", idc_query_test);
        d.reject();
    };
    dlg.run();
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text.toStdString(), gui_no_answer_text);
    EXPECT_EQ(seam.boxes[0].flags, mb_iconerror);
    press(idc_back);
    ASSERT_EQ(active_id(), 105u);
    seam.boxes.clear();
    press(idc_next);
    EXPECT_EQ(active_id(), 105u);
    ASSERT_EQ(seam.boxes.size(), 1u);
    EXPECT_EQ(seam.boxes[0].text.toStdString(), not_listed + "\n\n" + gui_no_answer_text);
}

// The query dialog's own checks and its test against the server.
struct dialog_case {
    const char* name;
    const char* query;
    int button;
    bool closes;
    const char* box;  // the box shown, or null
    uint32_t flags;
    const char* reason = nullptr;  // the server's reason under the box's text
};

class QueryDialog : public TablesPage, public ::testing::WithParamInterface<dialog_case> {};

FENNROW_SERVER_TESTS(QueryDialog);

TEST_P(QueryDialog, ChecksAndTests) {
    const dialog_case c = GetParam();
    open_page();
    set_query_dlg<kellvar_converter, 1025> dlg(L"", L"", nullptr);
    int result = 0;
    seam.on_dialog = [&](QDialog& d) { fill(d, c.name, c.query, c.button); };
    result = dlg.run();
    EXPECT_EQ(result, c.closes ? idc_query_ok : -1);
    EXPECT_EQ(dlg.objectName(), "128");
    EXPECT_EQ(dlg.windowTitle(), "Add Query");
    if (c.box) {
        ASSERT_EQ(seam.boxes.size(), 1u);
        if (c.reason) {
            EXPECT_TRUE(seam.boxes[0].text.startsWith(QString(c.box) + "\n\n")) << seam.boxes[0].text.toStdString();
            EXPECT_TRUE(seam.boxes[0].text.mid(static_cast<qsizetype>(strlen(c.box))).contains(c.reason))
                << seam.boxes[0].text.toStdString();
        } else {
            EXPECT_EQ(seam.boxes[0].text, c.box);
        }
        EXPECT_EQ(seam.boxes[0].flags, c.flags);
    } else {
        EXPECT_TRUE(seam.boxes.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QueryDialog,
    ::testing::Values(
        dialog_case{"q", "SELECT v FROM delta", idc_query_test, false, "The query is correct.", mb_iconinformation},
        dialog_case{"q", "SELECT v FRM delta WHERE", idc_query_test, false,
                    "The query has a syntax error. It must be a correct SQL SELECT statement.", mb_iconerror,
                    "You have an error in your SQL syntax"},
        dialog_case{"q", "SELECT nothing FROM no_such_table", idc_query_test, false,
                    "The query has a syntax error. It must be a correct SQL SELECT statement.", mb_iconerror,
                    "no_such_table' doesn't exist"},
        dialog_case{"q", "DELETE FROM delta", idc_query_test, false, "The query must start with SELECT.", mb_iconerror},
        dialog_case{"", "SELECT 1", idc_query_ok, false, "Table name is empty!", mb_iconinformation},
        dialog_case{"  ", "SELECT 1", idc_query_ok, false, "Table name is empty!", mb_iconinformation},
        dialog_case{"q", "UPDATE delta SET v = 'x'", idc_query_ok, false, "The query must start with SELECT.",
                    mb_iconerror},
        dialog_case{"q", "", idc_query_ok, false, "Query is empty!", mb_iconerror},
        dialog_case{"q", "\t SELECT 1", idc_query_ok, true, nullptr, 0}),
    [](const auto& info) {
        const dialog_case& c = info.param;
        return test_names::indexed(info.index, std::string(c.button == idc_query_test ? "test " : "ok ") +
                                                   (*c.name ? c.name : "no name") + " " + c.query);
    });

TEST_F(TablesPage, TestingAQueryNeverRunsIt) {
    db.conn().exec("CREATE TABLE hits (n INT)");
    std::string why;
    if (db.conn().try_exec("CREATE FUNCTION bump() RETURNS INT MODIFIES SQL DATA "
                           "BEGIN INSERT INTO hits VALUES (1); RETURN 1; END",
                           &why) != 0)
        GTEST_SKIP() << "cannot create a function: " << why;
    open_page();
    set_query_dlg<kellvar_converter, 1025> dlg(L"", L"", nullptr);
    seam.on_dialog = [&](QDialog& d) {
        fill(d, "q", "SELECT bump() AS b", idc_query_test);
        fill(d, "q", "SELECT bump() AS b FROM delta", idc_query_test);
    };
    dlg.run();
    ASSERT_EQ(seam.boxes.size(), 2u);
    EXPECT_EQ(seam.boxes[0].text, "The query is correct.");
    EXPECT_EQ(seam.boxes[1].text, "The query is correct.");
    EXPECT_EQ(db.conn().scalar("SELECT COUNT(*) FROM hits"), std::optional<std::string>("0"));
}

// Test Query on a server that keeps it waiting (a table change queued behind
// another session's transaction holds the table): the dialog stays usable,
// Cancel ends the wait and not the dialog, the time limit shows the friendly
// text, and a later test connects again.
TEST_F(TablesPage, TestQueryWaitingForTheServerCanBeCancelledAndHasATimeLimit) {
    open_page();
    fennrow_test::test_sql_conn reader(db.name());
    fennrow_test::test_sql_conn changer(db.name());
    reader.exec("START TRANSACTION");
    reader.scalar("SELECT COUNT(*) FROM delta");
    std::thread change([&] { changer.exec("ALTER TABLE delta COMMENT 'queued'"); });
    ASSERT_TRUE(pump_until([&] {
        return db.conn().scalar("SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE STATE LIKE "
                                "'Waiting for table metadata lock%' AND DB = '" +
                                db.name() + "'") != std::optional<std::string>("0");
    }));
    const int saved_limit = kvr_server_call_limit_ms;
    set_query_dlg<kellvar_converter, 1025> dlg(L"", L"", nullptr);
    bool busy = false, edits_blocked = false, still_open = false;
    seam.on_dialog = [&](QDialog& d) {
        QTimer::singleShot(300, &d, [&] {
            busy = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::BusyCursor;
            edits_blocked = !child<QWidget>(&d, idc_query_text)->isEnabled();
            d.reject();  // Escape or Cancel
            still_open = d.isVisible();
        });
        fill(d, "q", "SELECT v FROM delta", idc_query_test);
        // Now the time limit.
        kvr_server_call_limit_ms = 300;
        click_control(d, idc_query_test);
        kvr_server_call_limit_ms = saved_limit;
        reader.exec("COMMIT");
        change.join();
        click_control(d, idc_query_test);
        d.reject();
    };
    dlg.run();
    kvr_server_call_limit_ms = saved_limit;
    if (change.joinable()) {
        reader.exec("COMMIT");
        change.join();
    }
    EXPECT_TRUE(busy);
    EXPECT_TRUE(edits_blocked);
    EXPECT_TRUE(still_open);
    ASSERT_EQ(seam.boxes.size(), 2u);
    EXPECT_EQ(seam.boxes[0].text.toStdString(), gui_no_answer_text);
    EXPECT_EQ(seam.boxes[1].text, "The query is correct.");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QueryCheck, SelectTexts) {
    struct row {
        const wchar_t* in;
        bool pass;
        const wchar_t* kept;
    } rows[] = {
        {L"", true, L""},
        {L"  select x", true, L"select x"},
        {L"\t\r\n SeLeCt 1", true, L"SeLeCt 1"},
        {L"SELECTx", true, L"SELECTx"},
        {L"SELEC", false, L"SELEC"},
        {L"   ", false, L"   "},
        {L"UPDATE t", false, L"UPDATE t"},
        {L"\u017FELECT", false, L"\u017FELECT"},
    };
    for (const row& r : rows) {
        std::wstring q = r.in;
        EXPECT_EQ(query_dlg_base::is_select_text(q), r.pass) << QString::fromStdWString(r.in).toStdString();
        EXPECT_EQ(q, r.kept);
    }
}

}  // namespace
