// The wizard program kellvar: the application object, then the wizard.
// Optional argument: a settings profile to load before the wizard opens.
#include <QApplication>

#include "kvr_app.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    return kellvar_main(kellvar_command_line(argc, argv));
}
