// The wizard program kellvar: the application object, then the wizard.
// Optional argument: a settings profile to load before the wizard opens.
#include <QApplication>

#include "kvr_app.h"
#include "large_blocks.h"
#include "std_streams.h"

int main(int argc, char** argv) {
    // Before any file or socket is opened: none of them may take the place
    // of a closed standard descriptor.
    if (!plat::open_missing_standard_descriptors()) return -1;
    plat::give_back_large_blocks();
    QApplication app(argc, argv);
    return kellvar_main(kellvar_command_line(argc, argv));
}
