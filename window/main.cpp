// SPDX-License-Identifier: GPL-3.0-or-later
// The tool's entry: the real sound device, then the window with the command line.
#include <QApplication>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>

#include "app/command_line.h"
#include "platform/sdl_wave_out.h"
#include "platform/wave_out.h"
#include "wave/user_texts.h"
#include "window/app_icon.h"
#include "window/main_win.h"

namespace {

int Run(int argc, char* argv[]) {
    // The whole command line is a path to open; "--version" alone asks for the version only
    // where no file has that name.
    std::error_code ignored;
    if (argc == 2 && std::string(argv[1]) == "--version" &&
        !std::filesystem::exists(argv[1], ignored)) {
        std::printf("rundelt %s\n", RUNDELT_VERSION);
        return 0;
    }
    QApplication app(argc, argv);  // takes Qt's own options out of argv
    QApplication::setWindowIcon(window::AppIcon());

    platform::SdlWaveOut device;
    platform::UseWaveOut(&device);

    const std::string commandLine = wavemisc::CommandLineText(argc, argv);

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

}  // namespace

int main(int argc, char* argv[]) {
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s\n", wave::UserMessage(wave::WaveError::OutOfMemory).data());
        return 1;
    }
}
