// SPDX-License-Identifier: GPL-3.0-or-later
// Module misc: the two file dialogs and the message box the window uses. Each can be replaced
// through ReplaceDialogs, so window tests run without anyone to answer a dialog. Qt Widgets only;
// knows nothing of the window or the loaded sound.
#pragma once

#include <functional>
#include <string>

namespace misc {

// The open dialog ("音声ファイル名"): only existing files, the wave files listed first, then
// every sound file that opens. The chosen path, or "" when cancelled.
std::string ChooseOpenFile();

// The save dialog ("保存する音声ファイル名"): wave files first, then each other format written;
// a new name is accepted, replacing an existing file is asked first, and a name typed without an
// extension gets the chosen entry's (".wav" for the first). The path, or "".
std::string ChooseSaveFile();

// A modal box with the text, one OK button, no icon and no title of its own.
void ShowMessage(const std::string& text);

// A modal box with the question and two buttons, `yes` (the default) and the cancel button;
// no icon and no title of its own. Whether `yes` was chosen.
bool AskToConfirm(const std::string& question, const std::string& yes);

// Stand-ins for the four above; an empty member keeps the real dialog.
struct Dialogs {
    std::function<std::string()> chooseOpenFile;
    std::function<std::string()> chooseSaveFile;
    std::function<void(const std::string&)> showMessage;
    std::function<bool(const std::string&)> askToConfirm{};  // may be left out
};

// Installs the stand-ins until the next call; ReplaceDialogs({}) restores the real dialogs.
void ReplaceDialogs(Dialogs replacement);

}  // namespace misc
