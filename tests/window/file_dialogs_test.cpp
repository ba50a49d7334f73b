// SPDX-License-Identifier: GPL-3.0-or-later
// The real dialogs of misc, answered from inside their own event loops.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <functional>
#include <string>

#include "tests/support/wave_bytes.h"
#include "window/file_dialogs.h"

namespace {

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

// Runs `answer` on the modal widget once the next dialog is up.
template <typename Dialog>
void WhenShown(std::function<void(Dialog*)> answer) {
    QTimer::singleShot(0, [answer] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        answer(dialog);
    });
}

class DialogsTest : public ::testing::Test {
protected:
    void SetUp() override { misc::ReplaceDialogs({}); }
    testwave::TempDir temp;
};

TEST_F(DialogsTest, OpenDialogTakesOnlyExistingWaveFiles) {
    const std::string path = temp.path + "/in.wav";
    testwave::WriteFile(path, testwave::Wave(testwave::Pcm(8, 1, 8000), testwave::Pattern(40000)));
    WhenShown<QFileDialog>([this](QFileDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), Q("音声ファイル名"));
        EXPECT_EQ(dialog->nameFilters(),
                  (QStringList{Q("音形式ファイル(wav) (*.wav)"),
                               Q("読み込める音声ファイル (*.wav *.flac *.ogg *.oga *.opus *.mp3 "
                                 "*.aif *.aiff)")}));
        EXPECT_EQ(dialog->selectedNameFilter(), Q("音形式ファイル(wav) (*.wav)"));
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
        dialog->setDirectory(QString::fromStdString(temp.path));
        dialog->selectFile(Q("in.wav"));
        static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
    });
    EXPECT_EQ(misc::ChooseOpenFile(), path);

    WhenShown<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    EXPECT_EQ(misc::ChooseOpenFile(), "");
}

TEST_F(DialogsTest, SaveDialogTakesANewNameAndAddsTheExtension) {
    WhenShown<QFileDialog>([this](QFileDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), Q("保存する音声ファイル名"));
        EXPECT_EQ(dialog->nameFilters(),
                  (QStringList{Q("音形式ファイル(wav) (*.wav)"), Q("FLACファイル (*.flac)"),
                               Q("Ogg Vorbisファイル (*.ogg *.oga)"), Q("Opusファイル (*.opus)"),
                               Q("MP3ファイル (*.mp3)")}));
        EXPECT_EQ(dialog->selectedNameFilter(), Q("音形式ファイル(wav) (*.wav)"));
        dialog->setDirectory(QString::fromStdString(temp.path));
        dialog->selectFile(Q("looped"));
        static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
    });
    EXPECT_EQ(misc::ChooseSaveFile(), temp.path + "/looped.wav");
}

// The user picks another format in the list and types a name without an extension: the name
// gets that format's extension, so the file is written in it.
TEST_F(DialogsTest, SaveDialogGivesANameTheExtensionOfTheFormatChosen) {
    struct Row {
        int downs;  // presses of the down key in the list of formats
        const char* expected;
    };
    for (const Row& row : {Row{1, "/looped.flac"}, Row{2, "/looped.ogg"}, Row{4, "/looped.mp3"}}) {
        SCOPED_TRACE(row.expected);
        WhenShown<QFileDialog>([this, row](QFileDialog* dialog) {
            auto* formats = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
            ASSERT_NE(formats, nullptr);
            for (int k = 0; k < row.downs; ++k) QTest::keyClick(formats, Qt::Key_Down);
            dialog->setDirectory(QString::fromStdString(temp.path));
            dialog->selectFile(Q("looped"));
            static_cast<QDialog*>(dialog)->accept();
        });
        EXPECT_EQ(misc::ChooseSaveFile(), temp.path + row.expected);
    }
}

TEST_F(DialogsTest, SaveDialogAsksBeforeReplacingAFile) {
    const std::string path = temp.path + "/old.wav";
    testwave::WriteFile(path, testwave::Bytes{1, 2, 3});
    bool asked = false;
    WhenShown<QFileDialog>([this, &asked](QFileDialog* dialog) {
        dialog->setDirectory(QString::fromStdString(temp.path));
        dialog->selectFile(Q("old.wav"));
        WhenShown<QMessageBox>([&asked](QMessageBox* question) {
            asked = true;
            question->button(QMessageBox::Yes)->click();
        });
        static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
    });
    EXPECT_EQ(misc::ChooseSaveFile(), path);
    EXPECT_TRUE(asked);
}

// Ctrl+T's question: two buttons, the one that writes taken by Enter, the other by Escape.
TEST_F(DialogsTest, QuestionIsAnsweredByItsButtonsEnterAndEscape) {
    struct Row {
        const char* how;
        bool answer;
    };
    for (const Row& row : {Row{"Enter", true}, Row{"Escape", false}, Row{"cancel button", false},
                           Row{"write button", true}}) {
        SCOPED_TRACE(row.how);
        WhenShown<QMessageBox>([row](QMessageBox* box) {
            EXPECT_EQ(box->text(), Q("<b>ファイル</b>に書き込みますか"));
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
            ASSERT_EQ(box->buttons().size(), 2);
            EXPECT_TRUE(box->windowTitle().isEmpty());
            const std::string how = row.how;
            if (how == "Enter") {
                QTest::keyClick(box, Qt::Key_Return);
            } else if (how == "Escape") {
                QTest::keyClick(box, Qt::Key_Escape);
            } else {
                const QString text = how == "write button" ? Q("書き込む") : Q("キャンセル");
                for (QAbstractButton* button : box->buttons())
                    if (button->text() == text) button->click();
            }
        });
        EXPECT_EQ(misc::AskToConfirm("<b>ファイル</b>に書き込みますか", "書き込む"), row.answer);
    }
}

TEST_F(DialogsTest, MessageBoxHasTheTextAndOneOkButtonOnly) {
    WhenShown<QMessageBox>([](QMessageBox* box) {
        EXPECT_EQ(box->text(), Q("<b>不正な</b>waveファイルです"));
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
        EXPECT_EQ(box->buttons().size(), 1);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        EXPECT_TRUE(box->windowTitle().isEmpty());
        box->button(QMessageBox::Ok)->click();
    });
    misc::ShowMessage("<b>不正な</b>waveファイルです");
}

}  // namespace
