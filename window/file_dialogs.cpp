// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/file_dialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <utility>

namespace misc {
namespace {

Dialogs& Replacement() {
    static Dialogs replacement;
    return replacement;
}

// One filter, as the file dialogs have always offered it.
const QString kWaveFilter = QStringLiteral("音形式ファイル(wav) (*.wav)");

// Paths go to the loader as the file system's own bytes.
std::string FirstSelected(const QFileDialog& dialog) {
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return "";
    return QFile::encodeName(files.first()).toStdString();
}

}  // namespace

std::string ChooseOpenFile() {
    if (Replacement().chooseOpenFile) return Replacement().chooseOpenFile();

    QFileDialog dialog(nullptr, QStringLiteral("音声ファイル名"), QString(), kWaveFilter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted) return "";
    return FirstSelected(dialog);
}

std::string ChooseSaveFile() {
    if (Replacement().chooseSaveFile) return Replacement().chooseSaveFile();

    QFileDialog dialog(nullptr, QStringLiteral("保存する音声ファイル名"), QString(), kWaveFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);  // a new name must be allowed, or nothing saves
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted) return "";
    return FirstSelected(dialog);
}

void ShowMessage(const std::string& text) {
    if (Replacement().showMessage) {
        Replacement().showMessage(text);
        return;
    }

    QMessageBox box;
    box.setIcon(QMessageBox::NoIcon);
    box.setTextFormat(Qt::PlainText);  // a path in a message is shown as typed, never as markup
    box.setText(QString::fromStdString(text));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void ReplaceDialogs(Dialogs replacement) { Replacement() = std::move(replacement); }

}  // namespace misc
