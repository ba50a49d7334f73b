// SPDX-License-Identifier: GPL-3.0-or-later
// Module misc: the two file dialogs and the message box the window uses. Each can be replaced
// through ReplaceDialogs, so window tests run without anyone to answer a dialog. Qt Widgets only;
// knows nothing of the window or the loaded sound.
#pragma once

#include <functional>
#include <string>

namespace misc {

// The open dialog ("音声ファイル名"): only existing .wav files. The chosen path, or "" when
// cancelled.
std::string ChooseOpenFile();

// The save dialog ("保存する音声ファイル名"): a new name is accepted, replacing an existing file
// is asked first, ".wav" is added to a name typed without an extension. The path, or "".
std::string ChooseSaveFile();

// A modal box with the text, one OK button, no icon and no title of its own.
void ShowMessage(const std::string& text);

// Stand-ins for the three above; an empty member keeps the real dialog.
struct Dialogs {
    std::function<std::string()> chooseOpenFile;
    std::function<std::string()> chooseSaveFile;
    std::function<void(const std::string&)> showMessage;
};

// Installs the stand-ins until the next call; ReplaceDialogs({}) restores the real dialogs.
void ReplaceDialogs(Dialogs replacement);

}  // namespace misc
