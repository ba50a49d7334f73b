// SPDX-License-Identifier: GPL-3.0-or-later
// The tool's entry: the real sound device, then the window with the command line.
#include <QApplication>
#include <string>

#include "app/command_line.h"
#include "platform/sdl_wave_out.h"
#include "platform/wave_out.h"
#include "window/main_win.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);  // takes Qt's own options out of argv

    platform::SdlWaveOut device;
    platform::UseWaveOut(&device);

    const std::string commandLine = window::CommandLineText(argc, argv);

    int result = 0;
    {
        window::MainWin mainWin;
        mainWin.Form_Load(commandLine);
        mainWin.show();
        result = QApplication::exec();
    }
    platform::UseWaveOut(nullptr);
    return result;
}
