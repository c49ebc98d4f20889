// The test program's entry: one application object for every test, on the
// offscreen platform unless the environment names another.
#include <gtest/gtest.h>

#include <QApplication>

#include "g_clipb.h"
#include "test_labels.h"

namespace {

QtMessageHandler previous_handler = nullptr;

// The offscreen platform reports window features it lacks; that is noise here.
void quiet_handler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("This plugin does not support"))) return;
    if (previous_handler) previous_handler(type, context, text);
}

}  // namespace

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    fennrow_test::apply_label_filter();
    // Death tests start the program again instead of forking its threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    previous_handler = qInstallMessageHandler(quiet_handler);
    QApplication app(argc, argv);
    gui_install_clipboard_writer();
    return RUN_ALL_TESTS();
}
