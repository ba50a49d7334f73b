// SPDX-License-Identifier: GPL-3.0-or-later
// e2e_message_box TEXT: shows TEXT in the tool's own message box and ends when it is closed. The
// end-to-end test grabs it as the picture of the box the tool must show: same code, same fonts,
// same style, so the two agree pixel for pixel exactly when their texts do.
#include <QApplication>
#include <cstdio>

#include "window/file_dialogs.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: e2e_message_box TEXT\n");
        return 2;
    }
    misc::ShowMessage(argv[1]);
    return 0;
}
