// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/file_dialogs.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <span>
#include <string_view>
#include <utility>

#include "files/sound_file.h"
#include "files/sound_writer.h"
#include "wave/user_texts.h"

namespace misc {
namespace {

Dialogs& Replacement() {
    static Dialogs replacement;
    return replacement;
}

QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The entry the file dialogs have always offered first, and the extension it gives a new name.
const QString kWaveFilter = QStringLiteral("音形式ファイル(wav) (*.wav)");
const QString kWaveSuffix = QStringLiteral("wav");

// "NAME (*.EXT1 *.EXT2)".
QString Filter(std::string_view name, std::span<const std::string_view> extensions) {
    QStringList patterns;
    for (const std::string_view extension : extensions)
        patterns << QStringLiteral("*.") + Text(extension);
    return Text(name) + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
           QStringLiteral(")");
}

// The save dialog's entries, each with the extension it gives a name typed without one.
struct SaveFilter {
    QString filter;
    QString suffix;
};

QList<SaveFilter> SaveFilters() {
    QList<SaveFilter> filters{{kWaveFilter, kWaveSuffix}};
    for (const files::WrittenFormat& written : files::WrittenFormats()) {
        if (written.format == files::OutputFormat::Wav) continue;  // the first entry's
        filters.append({Filter(wave::FormatFilesFilter(written.name), written.extensions),
                        Text(written.extensions.front())});
    }
    return filters;
}

// Paths go to the loader as the file system's own bytes.
std::string FirstSelected(const QFileDialog& dialog) {
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return "";
    return QFile::encodeName(files.first()).toStdString();
}

}  // namespace

std::string ChooseOpenFile() {
    if (Replacement().chooseOpenFile) return Replacement().chooseOpenFile();

    QFileDialog dialog(nullptr, QStringLiteral("音声ファイル名"));
    dialog.setNameFilters(
        {kWaveFilter, Filter(wave::kReadableFilesFilter, files::SoundExtensions())});
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted) return "";
    return FirstSelected(dialog);
}

std::string ChooseSaveFile() {
    if (Replacement().chooseSaveFile) return Replacement().chooseSaveFile();

    QFileDialog dialog(nullptr, QStringLiteral("保存する音声ファイル名"));
    const QList<SaveFilter> filters = SaveFilters();
    QStringList names;
    for (const SaveFilter& filter : filters) names << filter.filter;
    dialog.setNameFilters(names);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);  // a new name must be allowed, or nothing saves
    dialog.setDefaultSuffix(kWaveSuffix);
    // A name typed without an extension is saved in the format of the entry chosen.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, &filters](const QString& chosen) {
                         for (const SaveFilter& filter : filters)
                             if (filter.filter == chosen) dialog.setDefaultSuffix(filter.suffix);
                     });
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

bool AskToConfirm(const std::string& question, const std::string& yes) {
    if (Replacement().askToConfirm) return Replacement().askToConfirm(question);

    QMessageBox box;
    box.setIcon(QMessageBox::NoIcon);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(question));
    QPushButton* yesButton = box.addButton(QString::fromStdString(yes), QMessageBox::AcceptRole);
    QPushButton* cancelButton = box.addButton(Text(wave::kCancelButton), QMessageBox::RejectRole);
    box.setDefaultButton(yesButton);
    box.setEscapeButton(cancelButton);
    box.exec();
    return box.clickedButton() == yesButton;
}

void ReplaceDialogs(Dialogs replacement) { Replacement() = std::move(replacement); }

}  // namespace misc
