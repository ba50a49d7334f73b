// SPDX-License-Identifier: GPL-3.0-or-later
// The real MainWin over the virtual wave-output device, with the dialogs and the message box
// replaced, driven through its controls and handlers.
#include "window/main_win.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFocusEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/found_loops.h"
#include "app/loaded_sound.h"
#include "app/preview_device.h"
#include "platform/virtual_wave_out.h"
#include "tests/support/cli_runner.h"
#include "tests/support/encoded_music.h"
#include "tests/support/looped_music.h"
#include "tests/support/wave_bytes.h"
#include "window/file_dialogs.h"
#include "window/join_window.h"
#include "window/overview_bar.h"

namespace {

using testwave::Bytes;
using window::MainWin;

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

bool Called(const platform::VirtualWaveOut& device, const std::string& call) {
    return std::find(device.calls.begin(), device.calls.end(), call) != device.calls.end();
}

class MainWinTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::UseWaveOut(&device);
        misc::ReplaceDialogs({
            [this] {
                ++openAsked;
                return openAnswer;
            },
            [this] {
                ++saveAsked;
                return saveAnswer;
            },
            [this](const std::string& text) { messages.push_back(text); },
            [this](const std::string& question) {
                questions.push_back(question);
                return confirm;
            },
        });
    }

    void TearDown() override {
        win.reset();
        wavemisc::ClosePreviewDevice();
        misc::ReplaceDialogs({});
        platform::UseWaveOut(nullptr);
    }

    std::string WriteWave(const std::string& name, const testwave::Format& format,
                          const Bytes& data) {
        const std::string path = temp.path + "/" + name;
        testwave::WriteFile(path, testwave::Wave(format, data));
        return path;
    }

    // 10 seconds of 16-bit stereo at 44100 frames per second: LastFrame 440999, HalfWindow 88200.
    std::string TenSeconds() {
        return WriteWave("ten.wav", testwave::Pcm(16, 2, 44100), testwave::Pattern(1764000));
    }

    MainWin& Start(const std::string& commandLine) {
        win = std::make_unique<MainWin>();
        win->show();
        win->Form_Load(commandLine);
        return *win;
    }

    void Mouse(QEvent::Type type, Qt::MouseButton button, Qt::MouseButtons held, double x) {
        // x in the bar's 0..1 scale, turned back into a widget position inside the border.
        const QRect area = win->Picture1->contentsRect();
        const QPointF pos(area.left() + x * area.width(), area.top() + area.height() / 2.0);
        QMouseEvent event(type, pos, win->Picture1->mapToGlobal(pos), button, held, Qt::NoModifier);
        QCoreApplication::sendEvent(win->Picture1, &event);
    }

    void Type(int index, const char* text) {
        win->Text1[static_cast<std::size_t>(index)]->setText(Q(text));
    }

    void LoseFocus(int index, Qt::FocusReason reason = Qt::TabFocusReason) {
        QFocusEvent event(QEvent::FocusOut, reason);
        QCoreApplication::sendEvent(win->Text1[static_cast<std::size_t>(index)], &event);
    }

    QColor BarPixel(double x) {
        const QImage image = win->Picture1->grab().toImage();
        const QRect area = win->Picture1->contentsRect();
        const int column = area.left() + static_cast<int>(x * area.width());
        return image.pixelColor(std::min(column, area.right()), area.center().y());
    }

    testwave::TempDir temp;
    platform::VirtualWaveOut device;
    std::unique_ptr<MainWin> win;
    std::string openAnswer;
    std::string saveAnswer;
    int openAsked = 0;
    int saveAsked = 0;
    std::vector<std::string> messages;
    bool confirm = false;  // Ctrl+T's answer
    std::vector<std::string> questions;
};

// ---- Layout ---------------------------------------------------------------------------------

TEST_F(MainWinTest, ControlsStandAtTheirTwipPlaces) {
    Start("");
    EXPECT_EQ(win->windowTitle(), Q("Rundelt v1.0"));
    EXPECT_EQ(win->size(), QSize(440, 369));
    EXPECT_EQ(win->minimumSize(), win->maximumSize());

    struct Row {
        QWidget* widget;
        QRect place;  // logical pixels: twips / 15
    };
    const Row rows[] = {
        {win->Command2, {40, 16, 97, 25}},      {win->Command3, {160, 16, 97, 25}},
        {win->Text2, {16, 56, 393, 89}},        {win->Label2[0], {24, 152, 105, 17}},
        {win->Label2[1], {144, 152, 129, 17}},  {win->HScroll1[0], {24, 176, 89, 17}},
        {win->HScroll1[1], {160, 176, 89, 17}}, {win->Command4, {296, 160, 97, 25}},
        {win->Text1[0], {32, 216, 73, 25}},     {win->Text1[1], {336, 216, 73, 25}},
        {win->Label2[2], {16, 248, 105, 17}},   {win->Label2[3], {320, 248, 105, 17}},
        {win->Picture1, {16, 328, 404, 33}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.widget->geometry(), row.place) << row.widget->metaObject()->className();
    EXPECT_EQ(win->Picture1->contentsRect().size(), QSize(400, 29));  // 6000 x 435 twips

    const int tops[] = {208, 232, 256, 280, 304};
    const char* units[] = {"sample単位", "10sample単位", "0.1秒単位", "1秒単位", "10秒単位"};
    for (int r = 0; r < 5; ++r) {
        const std::size_t row = static_cast<std::size_t>(r);
        EXPECT_EQ(win->Label1[row]->geometry(), QRect(184, tops[r], 73, 17)) << r;
        EXPECT_EQ(win->Label1[row]->text(), Q(units[r]));
        const int indices[] = {2 * r, 2 * r + 1, 2 * r + 10, 2 * r + 11};
        const int lefts[] = {128, 144, 280, 296};
        for (int k = 0; k < 4; ++k) {
            QPushButton* button = win->Command1[static_cast<std::size_t>(indices[k])];
            EXPECT_EQ(button->geometry(), QRect(lefts[k], tops[r], 17, 17)) << indices[k];
            EXPECT_EQ(button->text(), indices[k] % 2 == 0 ? Q("<") : Q(">"));
        }
    }

    EXPECT_EQ(win->Command2->text(), Q("別ファイルを開く"));
    EXPECT_EQ(win->Command3->text(), Q("保存"));
    EXPECT_EQ(win->Command4->text(), Q("ループ部再生"));
    EXPECT_EQ(win->Label2[0]->text(), Q("リピート回数：2"));
    EXPECT_EQ(win->Label2[1]->text(), Q("フェードアウト時間：5秒"));
    EXPECT_EQ(win->Label2[2]->text(), Q("*****秒"));
    EXPECT_EQ(win->Label2[3]->text(), Q("*****秒"));
    EXPECT_TRUE(win->Text1[0]->text().isEmpty());
    EXPECT_TRUE(win->Text2->toPlainText().isEmpty());
    EXPECT_TRUE(win->Timer1->isActive());
    EXPECT_EQ(win->Timer1->interval(), 50);
}

TEST_F(MainWinTest, InformationFontGivesFullWidthTwoColumns) {
    Start("");
    const QFontInfo info(win->Text2->font());
    const QStringList japaneseFixed{Q("ＭＳ ゴシック"), Q("IPAGothic"), Q("Noto Sans Mono CJK JP"),
                                    Q("VL Gothic")};
    EXPECT_TRUE(japaneseFixed.contains(info.family())) << info.family().toStdString();
    // Unrounded: at 11 px a half-width character is 5.5 px, and the text is laid out unrounded.
    const QFontMetricsF metrics(win->Text2->font());
    EXPECT_EQ(metrics.horizontalAdvance(Q("ア")), 2 * metrics.horizontalAdvance(Q("a")))
        << info.family().toStdString();
    EXPECT_EQ(metrics.horizontalAdvance(Q("：")), 2 * metrics.horizontalAdvance(Q(",")));
}

// Every line of the information in view, however long the path, and every caption whole at its
// longest: the fonts are the ones installed, so this fails when they no longer fit the places.
TEST_F(MainWinTest, InformationShowsSevenLinesAndNoCaptionIsClipped) {
    const std::string longName = std::string(200, 'n') + ".wav";
    for (const std::string& path : {TenSeconds(), WriteWave(longName, testwave::Pcm(16, 2, 44100),
                                                            testwave::Pattern(1764000))}) {
        Start(path);
        ASSERT_EQ(win->LoadError, "");
        QCoreApplication::processEvents();  // the scroll bars follow the text on a later event
        const QPlainTextEdit* box = win->Text2;
        ASSERT_EQ(box->blockCount(), 7);
        EXPECT_EQ(box->verticalScrollBar()->maximum(), 0) << path;
        EXPECT_FALSE(box->horizontalScrollBar()->isVisible()) << path;
        QTextCursor end(box->document());
        end.movePosition(QTextCursor::End);
        EXPECT_LE(box->cursorRect(end).bottom(), box->viewport()->rect().bottom()) << path;
    }

    struct Row {
        QWidget* widget;
        const char* longest;  // the longest text it shows
    };
    const Row rows[] = {
        {win->Command2, "別ファイルを開く"},
        {win->Command3, "保存"},
        {win->Command4, "ループ部再生"},
        {win->Command1[0], "<"},
        {win->Command1[1], ">"},
        {win->Label2[0], "リピート回数：10"},
        {win->Label2[1], "フェードアウト時間：30秒"},
        {win->Label2[2], "*****秒"},
        {win->Label2[3], "35791:23.647"},
        {win->Label1[1], "10sample単位"},
        {win->Label1[2], "0.1秒単位"},
        {win->Label1[4], "10秒単位"},
    };
    for (const Row& row : rows) {
        const QString text = Q(row.longest);
        QRect room = row.widget->contentsRect();
        if (auto* button = qobject_cast<QPushButton*>(row.widget)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = text;
            room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        }
        const QFontMetrics metrics(row.widget->font());
        EXPECT_LE(metrics.horizontalAdvance(text), room.width()) << row.longest;
        EXPECT_LE(metrics.height(), room.height()) << row.longest;
    }
}

// ---- Start-up and opening ----------------------------------------------------------------------

TEST_F(MainWinTest, CommandLineNamingNoFileAsksWithTheOpenDialog) {
    const std::string good = TenSeconds();
    const std::string rows[] = {"", temp.path + "/missing.wav", temp.path, "\"" + good + "\""};
    for (const std::string& commandLine : rows) {
        openAsked = 0;
        Start(commandLine);
        EXPECT_EQ(openAsked, 1) << commandLine;
        EXPECT_EQ(win->LoadError, "ファイル未選択") << commandLine;
        EXPECT_TRUE(messages.empty());
    }
    Start(good);
    EXPECT_EQ(openAsked, 1);  // not asked again
    EXPECT_EQ(win->LoadError, "");
}

// What a file manager passes (one argument) and what a shell passes for an unquoted path (one
// argument per word), through the same joining the program does.
TEST_F(MainWinTest, CommandLineWithBlanksAndNonAsciiOpensTheFile) {
    std::filesystem::create_directory(temp.path + "/My Loops");
    const std::string folder = temp.path + "/My Loops/";
    const std::string name = "ループ 1 (ﬁnal) ü.wav";
    testwave::WriteFile(folder + name,
                        testwave::Wave(testwave::Pcm(8, 1, 8000), testwave::Pattern(40000)));
    testwave::WriteFile(folder + "a b.wav",
                        testwave::Wave(testwave::Pcm(8, 1, 8000), testwave::Pattern(40000)));
    struct Row {
        std::vector<std::string> args;
        bool opens;
    };
    const Row rows[] = {
        {{folder + name}, true},
        {{temp.path + "/My", "Loops/ループ", "1", "(ﬁnal)", "ü.wav"}, true},
        {{folder + "a", "", "b.wav"}, false},  // "a  b.wav": a double blank
        {{folder + "a", "b.wav", ""}, false},  // a trailing blank
    };
    for (const Row& row : rows) {
        std::vector<const char*> argv{"rundelt"};
        for (const std::string& arg : row.args) argv.push_back(arg.c_str());
        const std::string commandLine =
            wavemisc::CommandLineText(static_cast<int>(argv.size()), argv.data());
        openAsked = 0;
        Start(commandLine);
        EXPECT_EQ(win->LoadError, row.opens ? "" : "ファイル未選択") << commandLine;
        EXPECT_EQ(openAsked, row.opens ? 0 : 1) << commandLine;
        if (row.opens) {  // the information text names the file as it is
            EXPECT_NE(win->Text2->toPlainText().toStdString().find(folder + name),
                      std::string::npos);
        }
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWinTest, WithoutSoundTheCommandsDoNothing) {
    Start("");
    device.ClearRecord();
    for (int index = 0; index < 20; ++index)
        win->Command1[static_cast<std::size_t>(index)]->click();
    Mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, 0.5);
    win->Command3->click();
    win->Command4->click();
    win->Timer1_Timer();
    EXPECT_EQ(saveAsked, 0);
    EXPECT_TRUE(device.calls.empty());
    EXPECT_EQ(win->LoopStart, 0);
    EXPECT_EQ(win->LoopEnd, 0);
    EXPECT_TRUE(win->Text1[0]->text().isEmpty());
    EXPECT_EQ(win->Label2[2]->text(), Q("*****秒"));
}

TEST_F(MainWinTest, InformationTextAndWholeSoundLoop) {
    const std::string path =
        WriteWave("info.wav", testwave::Pcm(16, 2, 44100), testwave::Pattern(882000));
    Start(path);
    ASSERT_EQ(win->LoadError, "");
    const QString expected = Q("ファイル名              ： ") + QString::fromStdString(path) +
                             "\n" +
                             Q("サンプリングレート      ： 44100Hz\n"
                               "サンプリングビット数    ： 16bit\n"
                               "ステレオ,モノラル       ： ステレオ\n"
                               "1秒あたりのデータサイズ ： 176400byte\n"
                               "データサイズ            ： 882000\n"
                               "再生時間                ： 5.00秒");
    EXPECT_EQ(win->Text2->toPlainText(), expected);
    EXPECT_EQ(win->Text2->blockCount(), 7);
    EXPECT_EQ(win->LastFrame, 220499);
    EXPECT_EQ(win->LoopStart, 0);
    EXPECT_EQ(win->LoopEnd, 220499);
    EXPECT_EQ(win->Text1[0]->text(), Q("0"));
    EXPECT_EQ(win->Text1[1]->text(), Q("220499"));
    EXPECT_EQ(win->Label2[2]->text(), Q("0:00.000"));
    EXPECT_EQ(win->Label2[3]->text(), Q("0:05.000"));

    struct Row {
        testwave::Format format;
        std::size_t dataBytes;
        std::int32_t lastFrame;
        const char* channelLine;
    };
    const Row rows[] = {
        {testwave::Pcm(8, 1, 22050), 110250, 110249, "ステレオ,モノラル       ： モノラル"},
        {testwave::Pcm(16, 1, 22050), 220501, 110250,
         "ステレオ,モノラル       ： モノラル"},  // 110249.5
        {testwave::Pcm(16, 2, 44100), 882003, 220500,
         "ステレオ,モノラル       ： ステレオ"},  // 220499.75
    };
    for (const Row& row : rows) {
        win->OpenWaveFile(WriteWave("row.wav", row.format, testwave::Pattern(row.dataBytes)));
        ASSERT_EQ(win->LoadError, "") << row.dataBytes;
        EXPECT_EQ(win->LastFrame, row.lastFrame) << row.dataBytes;
        EXPECT_EQ(win->LoopEnd, row.lastFrame) << row.dataBytes;
        EXPECT_EQ(win->Text2->toPlainText().split('\n').at(3), Q(row.channelLine));
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWinTest, RefusedFileAfterAGoodOneKeepsWhatIsShown) {
    Start(TenSeconds());
    win->Command1[1]->click();  // LoopStart 1
    const QString shown = win->Text2->toPlainText();

    testwave::WriteFile(temp.path + "/bad.wav", Bytes{'R', 'I', 'F', 'X', 0, 0, 0, 0});
    openAnswer = temp.path + "/bad.wav";
    win->Command2->click();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_FALSE(messages[0].empty());
    EXPECT_EQ(win->LoadError, messages[0]);
    EXPECT_EQ(win->Text2->toPlainText(), shown);
    EXPECT_EQ(win->LoopStart, 1);
    EXPECT_EQ(win->LoopEnd, 440999);
    EXPECT_EQ(win->LastFrame, 440999);

    // No sound now: nudges and the preview do nothing.
    device.ClearRecord();
    win->Command1[3]->click();
    win->Command4->click();
    EXPECT_EQ(win->LoopStart, 1);
    EXPECT_TRUE(device.calls.empty());

    // A cancelled dialog changes nothing either.
    openAnswer = "";
    win->Command2->click();
    EXPECT_EQ(messages.size(), 1U);
    EXPECT_EQ(win->LoadError, messages[0]);
}

TEST_F(MainWinTest, DeviceThatCannotOpenIsReported) {
    device.openResult = platform::WAVERR_BADFORMAT;
    Start(TenSeconds());
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0], "waveOutOpen失敗：32");
    EXPECT_EQ(win->LoadError, messages[0]);
    EXPECT_EQ(win->Label2[2]->text(), Q("*****秒"));
}

// ---- Loop editing -------------------------------------------------------------------------------

TEST_F(MainWinTest, NudgeEachButtonFromTheWholeLoop) {
    Start(TenSeconds());
    struct Row {
        int index;
        std::int32_t start, end;  // after one click from 0 .. 440999
    };
    const Row rows[] = {
        {0, 0, 440999},    {1, 1, 440999},     {2, 0, 440999},      {3, 10, 440999},
        {5, 4410, 440999}, {7, 44100, 440999}, {9, 352798, 440999},  // 441000 pulled back
        {10, 0, 440998},   {11, 0, 440999},    {12, 0, 440989},     {14, 0, 436589},
        {16, 0, 396899},   {17, 0, 440999},    {18, 0, 88201},  // -1 pushed forward
    };
    for (const Row& row : rows) {
        win->LoopStart = 0;
        win->LoopEnd = 440999;
        win->Command1[static_cast<std::size_t>(row.index)]->click();
        EXPECT_EQ(win->LoopStart, row.start) << row.index;
        EXPECT_EQ(win->LoopEnd, row.end) << row.index;
        EXPECT_EQ(win->Text1[0]->text(), QString::number(row.start)) << row.index;
        EXPECT_EQ(win->Text1[1]->text(), QString::number(row.end)) << row.index;
    }

    // Exactly HalfWindow apart: a step forward gives -1 by the rule, then 0 by the floor.
    win->LoopStart = 0;
    win->LoopEnd = 88200;
    win->Command1[1]->click();
    EXPECT_EQ(win->LoopStart, 0);
}

TEST_F(MainWinTest, NudgeTenthOfASecondRoundsHalfToEven) {
    Start(WriteWave("slow.wav", testwave::Pcm(8, 1, 11025), testwave::Pattern(11025 * 6)));
    win->Command1[5]->click();
    EXPECT_EQ(win->LoopStart, 1102);
}

TEST_F(MainWinTest, BarClicksAndDragsByButtonState) {
    Start(TenSeconds());
    Mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, 0.5);
    EXPECT_EQ(win->LoopStart, 220500);  // 220499.5 halves to even

    win->LoopStart = 300000;
    Mouse(QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, 0.5);
    EXPECT_EQ(win->LoopEnd, 388201);

    // Middle button, and a drag with two buttons: nothing moves, the display is rewritten.
    struct Row {
        QEvent::Type type;
        Qt::MouseButton button;
        Qt::MouseButtons held;
    };
    const Row stills[] = {
        {QEvent::MouseButtonPress, Qt::MiddleButton, Qt::MiddleButton},
        {QEvent::MouseMove, Qt::NoButton, Qt::LeftButton | Qt::RightButton},
        {QEvent::MouseMove, Qt::NoButton, Qt::MiddleButton},
    };
    for (const Row& row : stills) {
        Type(0, "junk");
        Mouse(row.type, row.button, row.held, 0.1);
        EXPECT_EQ(win->LoopStart, 300000);
        EXPECT_EQ(win->LoopEnd, 388201);
        EXPECT_EQ(win->Text1[0]->text(), Q("300000"));
    }

    // A move with no button held is not a drag: nothing is even refreshed.
    Type(0, "junk");
    Mouse(QEvent::MouseMove, Qt::NoButton, Qt::NoButton, 0.1);
    EXPECT_EQ(win->Text1[0]->text(), Q("junk"));

    // Dragging follows the pointer, beyond the bar's ends too.
    Mouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, 0.25);
    EXPECT_EQ(win->LoopStart, 110250);  // 110249.75
    Mouse(QEvent::MouseMove, Qt::NoButton, Qt::LeftButton, -0.5);
    EXPECT_EQ(win->LoopStart, 0);
    Mouse(QEvent::MouseMove, Qt::NoButton, Qt::RightButton, 3.0);
    EXPECT_EQ(win->LoopEnd, 440999);
    Mouse(QEvent::MouseMove, Qt::NoButton, Qt::RightButton, -3.0);
    EXPECT_EQ(win->LoopEnd, 88201);
}

TEST_F(MainWinTest, TypedValuesApplyOnEnterAndOnFocusLoss) {
    Start(TenSeconds());
    win->LoopEnd = 200000;

    QSignalSpy returnPressed(win->Text1[0], &QLineEdit::returnPressed);
    Type(0, "150000");
    QTest::keyClick(win->Text1[0], Qt::Key_Return);
    EXPECT_EQ(win->LoopStart, 111799);
    EXPECT_EQ(win->Text1[0]->text(), Q("111799"));
    EXPECT_EQ(returnPressed.count(), 1);  // the key goes on to the box

    struct Row {
        const char* text;
        std::int32_t start;
    };
    const Row rows[] = {{"111800", 111800},     {"abc", 0},        {"-100", 0},
                        {"1e3", 1000},          {"12 345", 12345}, {"12,345", 12},
                        {"99999999999", 111799}};
    for (const Row& row : rows) {
        Type(0, row.text);
        LoseFocus(0);
        EXPECT_EQ(win->LoopStart, row.start) << row.text;
        EXPECT_EQ(win->Text1[0]->text(), QString::number(row.start)) << row.text;
    }

    // The unchanged text is applied again at every loss of focus.
    win->LoopStart = 5;
    LoseFocus(0);
    EXPECT_EQ(win->LoopStart, 111799);

    // The keypad Enter too, on the end box.
    Type(1, "300000");
    QTest::keyClick(win->Text1[1], Qt::Key_Enter);
    EXPECT_EQ(win->LoopEnd, 300000);
    Type(1, "999999999");
    LoseFocus(1);
    EXPECT_EQ(win->LoopEnd, 440999);

    // The window going to the background is no loss of focus to another control.
    Type(0, "7");
    LoseFocus(0, Qt::ActiveWindowFocusReason);
    EXPECT_EQ(win->LoopStart, 111799);
}

// A click on either settings bar takes the focus from a loop box, so the typed value is applied
// before the bar moves.
TEST_F(MainWinTest, ClickOnAScrollBarAppliesTheTypedValueFirst) {
    Start(TenSeconds());
    win->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(win.get()));
    for (int bar = 0; bar < 2; ++bar) {
        QScrollBar* scroll = win->HScroll1[static_cast<std::size_t>(bar)];
        win->LoopEnd = 200000;
        win->LoopStart = 0;
        std::int32_t startWhenMoved = -1;
        const auto connection = QObject::connect(scroll, &QScrollBar::valueChanged,
                                                 [&] { startWhenMoved = win->LoopStart; });
        win->Text1[0]->setFocus();
        win->Text1[0]->clear();
        QTest::keyClicks(win->Text1[0], QStringLiteral("150000"));
        const int before = scroll->value();
        // In the trough, right of the thumb.
        QTest::mouseClick(scroll, Qt::LeftButton, {},
                          QPoint(scroll->width() - 20, scroll->height() / 2));
        QObject::disconnect(connection);
        EXPECT_TRUE(scroll->hasFocus()) << bar;
        EXPECT_GT(scroll->value(), before) << bar;
        EXPECT_EQ(startWhenMoved, 111799) << bar;
        EXPECT_EQ(win->LoopStart, 111799) << bar;
    }
}

TEST_F(MainWinTest, TypedValuesWithoutSoundAreKeptButNotShown) {
    Start("");
    Type(0, "1234");
    LoseFocus(0);
    // With no sound HalfWindow and LastFrame are 0: the start rule leaves 0.
    EXPECT_EQ(win->LoopStart, 0);
    EXPECT_EQ(win->Text1[0]->text(), Q("1234"));
    EXPECT_EQ(win->Label2[2]->text(), Q("*****秒"));

    openAnswer = TenSeconds();
    win->Command2->click();
    EXPECT_EQ(win->LoopStart, 0);
    EXPECT_EQ(win->LoopEnd, 440999);
}

TEST_F(MainWinTest, TimeLabelsOfTheLoopPoints) {
    Start(WriteWave("long.wav", testwave::Pcm(8, 1, 1000), testwave::Pattern(120000)));
    ASSERT_EQ(win->LastFrame, 119999);
    struct Row {
        int box;
        const char* typed;
        const char* label;
    };
    const Row rows[] = {
        {0, "59900", "0:59.900"}, {1, "119700", "1:59.700"}, {0, "60000", "1:00.000"},
        {0, "22050", "0:22.050"}, {1, "119999", "1:59.999"},
    };
    for (const Row& row : rows) {
        Type(row.box, row.typed);
        LoseFocus(row.box);
        EXPECT_EQ(win->Label2[static_cast<std::size_t>(2 + row.box)]->text(), Q(row.label))
            << row.typed;
    }
}

TEST_F(MainWinTest, ScrollBarsRewriteBothLabels) {
    Start("");
    win->HScroll1[1]->setValue(0);
    EXPECT_EQ(win->Label2[1]->text(), Q("フェードアウト時間：0秒"));
    win->HScroll1[0]->setValue(10);
    EXPECT_EQ(win->Label2[0]->text(), Q("リピート回数：10"));

    // Arrow and trough steps: 1 and 1 for the repeat count, 1 and 5 for the fade.
    win->HScroll1[1]->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(win->Label2[1]->text(), Q("フェードアウト時間：5秒"));
    win->HScroll1[1]->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(win->HScroll1[1]->value(), 6);
    win->HScroll1[0]->setValue(2);
    win->HScroll1[0]->triggerAction(QAbstractSlider::SliderPageStepAdd);
    win->HScroll1[0]->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(win->HScroll1[0]->value(), 4);

    // Either bar rewrites both labels, also while the thumb is dragged.
    win->Label2[0]->setText("x");
    win->HScroll1[1]->setSliderDown(true);
    win->HScroll1[1]->setSliderPosition(30);
    win->HScroll1[1]->setSliderDown(false);
    EXPECT_EQ(win->Label2[1]->text(), Q("フェードアウト時間：30秒"));
    EXPECT_EQ(win->Label2[0]->text(), Q("リピート回数：4"));
}

// ---- The bar
// --------------------------------------------------------------------------------------

TEST_F(MainWinTest, BarShowsLoopAndCursorAtTheirColumns) {
    const QColor white(255, 255, 255), grey(208, 208, 208), blue(0, 0, 255);
    Start(TenSeconds());
    // Whole-sound loop, cursor 0 at the left edge.
    EXPECT_EQ(BarPixel(0.0), blue);
    EXPECT_EQ(BarPixel(0.01), grey);
    EXPECT_EQ(BarPixel(0.999), grey);

    win->LoopStart = 110250;  // x 0.25
    win->LoopEnd = 330749;    // x 0.75
    win->CursorFrame = 220500;
    win->RefreshBar();
    EXPECT_EQ(BarPixel(0.24), white);
    EXPECT_EQ(BarPixel(0.26), grey);
    EXPECT_EQ(BarPixel(0.5), blue);
    EXPECT_EQ(BarPixel(0.51), grey);
    EXPECT_EQ(BarPixel(0.74), grey);
    EXPECT_EQ(BarPixel(0.76), white);

    // A cursor left of the sound is not drawn at all.
    win->CursorFrame = -88200;
    win->RefreshBar();
    EXPECT_EQ(BarPixel(0.0), white);
}

TEST_F(MainWinTest, BarOfASoundWithoutFramesShowsOnlyItsBackground) {
    // Only a format block whose sizes disagree gives LastFrame 0, and the device refuses those;
    // the window is put in that state directly.
    Start(TenSeconds());
    win->LastFrame = 0;
    win->LoopEnd = 0;
    win->RefreshInformation();
    Mouse(QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton, 0.5);
    Mouse(QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton, 0.5);
    win->Timer1_Timer();
    for (double x : {0.0, 0.5, 0.99}) EXPECT_EQ(BarPixel(x), QColor(Qt::white)) << x;
}

// ---- Seam preview and cursor
// ---------------------------------------------------------------------

TEST_F(MainWinTest, PreviewFillsTheSeamAndTheCursorFollowsTheDevice) {
    // 600000 frames of 16-bit stereo at 44100: H = 352800 bytes, HalfWindow 88200.
    Start(WriteWave("seam.wav", testwave::Pcm(16, 2, 44100), testwave::Pattern(2400000)));
    win->LoopStart = 100000;
    win->LoopEnd = 500000;
    win->Command4->click();

    const Bytes& sound = wavemisc::SoundData;
    Bytes expected(sound.begin() + 1647200, sound.begin() + 1647200 + 352800);
    expected.insert(expected.end(), sound.begin() + 400000, sound.begin() + 400000 + 352800);
    EXPECT_EQ(wavemisc::PreviewData, expected);
    EXPECT_EQ(device.lastBlock, expected);
    EXPECT_EQ(win->PreviewStart, 100000);
    EXPECT_EQ(win->PreviewEnd, 500000);

    // Position 0 is what the timer saw last: the cursor stays where the load put it.
    win->Timer1_Timer();
    EXPECT_EQ(win->CursorFrame, 0);

    // The loop moving during the preview does not move the preview's cursor.
    win->Command1[7]->click();
    struct Row {
        std::uint32_t advance;
        std::int32_t cursor;
    };
    const Row rows[] = {
        {44100, 455900}, {44099, 499999}, {1, 100000}, {88200, 188200}, {5000, 188200},  // ended
    };
    for (const Row& row : rows) {
        device.Advance(row.advance);
        win->Timer1_Timer();
        EXPECT_EQ(win->CursorFrame, row.cursor) << device.positionFrames;
    }
    // Once the block has ended the position stands, and the timer leaves the cursor alone.
    win->CursorFrame = 7;
    win->Timer1_Timer();
    EXPECT_EQ(win->CursorFrame, 7);

    // A second click restarts at 0: the cursor is back before the new PreviewEnd.
    win->Command4->click();
    win->Timer1_Timer();
    EXPECT_EQ(win->PreviewStart, 144100);
    EXPECT_EQ(win->CursorFrame, 500000 - 88200);

    // A failed position query reads as 0.
    device.Advance(1000);
    win->Timer1_Timer();
    device.failPosition = true;
    win->Timer1_Timer();
    EXPECT_EQ(win->CursorFrame, 500000 - 88200);
    device.failPosition = false;

    // The timer's last position outlives a load: the first tick after it sees a change.
    device.Advance(176400);
    win->Timer1_Timer();
    win->OpenWaveFile(TenSeconds());
    EXPECT_EQ(win->CursorFrame, 0);
    win->Timer1_Timer();
    EXPECT_EQ(win->CursorFrame, -88200);
}

TEST_F(MainWinTest, TightestLoopPlaysTheSameTwoSecondsTwice) {
    Start(WriteWave("mono.wav", testwave::Pcm(8, 1, 11025), testwave::Pattern(11025 * 5)));
    win->LoopEnd = 22050;  // HalfWindow
    win->Command4->click();
    ASSERT_EQ(wavemisc::PreviewData.size(), 44100U);
    const Bytes first(wavemisc::SoundData.begin(), wavemisc::SoundData.begin() + 22050);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), wavemisc::PreviewData.begin()));
    EXPECT_TRUE(std::equal(first.begin(), first.end(), wavemisc::PreviewData.begin() + 22050));
    EXPECT_EQ(device.writes, 1);
}

TEST_F(MainWinTest, PreviewOfAnInconsistentFormatIsRefused) {
    Start(TenSeconds());
    // nBlockAlign saying 2 bytes a frame where the samples take 4 (the device would refuse such
    // a block at the load, so it is changed after it).
    wavemisc::SoundFormat.nBlockAlign = 2;
    win->Command4->click();
    wavemisc::SoundFormat.nBlockAlign = 4;
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(device.writes, 0);
    EXPECT_EQ(win->PreviewEnd, 0);
}

// ---- Saving and closing
// ----------------------------------------------------------------------------

// Records the captions the window shows, and the cursor at each change.
class CaptionLog : public QObject {
public:
    std::vector<QString> captions;
    std::vector<bool> waitCursor;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowTitleChange) {
            captions.push_back(static_cast<QWidget*>(watched)->windowTitle());
            const QCursor* cursor = QApplication::overrideCursor();
            waitCursor.push_back(cursor != nullptr && cursor->shape() == Qt::WaitCursor);
        }
        return false;
    }
};

TEST_F(MainWinTest, SaveWritesTheLoopedFileAndRestoresTheCaption) {
    const Bytes sound = testwave::Pattern(6000);  // 6 s of 8-bit mono at 1000 frames per second
    Start(WriteWave("six.wav", testwave::Pcm(8, 1, 1000), sound));
    win->LoopStart = 1000;
    win->LoopEnd = 4000;
    win->HScroll1[0]->setValue(2);
    win->HScroll1[1]->setValue(0);  // no faded tail
    saveAnswer = temp.path + "/out.wav";
    CaptionLog log;
    win->installEventFilter(&log);
    win->Command3->click();
    win->removeEventFilter(&log);

    Bytes data(sound.begin(), sound.begin() + 4000);
    data.insert(data.end(), sound.begin() + 1000, sound.begin() + 4000);
    const Bytes expected = testwave::Wave(testwave::Pcm(8, 1, 1000), data);  // 44 + 1000 + 2 x 3000
    const Bytes written = testwave::ReadFile(saveAnswer);
    ASSERT_EQ(written.size(), expected.size());
    const auto diff = std::mismatch(written.begin(), written.end(), expected.begin());
    EXPECT_EQ(diff.first, written.end())
        << "first difference at byte " << (diff.first - written.begin());

    EXPECT_EQ(saveAsked, 1);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(log.captions, (std::vector<QString>{Q("保存中…"), Q("Rundelt v1.0")}));
    EXPECT_EQ(log.waitCursor, (std::vector<bool>{true, false}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWinTest, FailedSaveIsShownAndTheCaptionComesBack) {
    Start(TenSeconds());
    saveAnswer = temp.path + "/no such folder/out.wav";
    win->Command3->click();
    ASSERT_EQ(messages.size(), 1U);
    EXPECT_EQ(messages[0].rfind("保存に失敗しました", 0), 0U) << messages[0];
    EXPECT_EQ(win->windowTitle(), Q("Rundelt v1.0"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // A cancelled save dialog writes nothing and says nothing.
    saveAnswer = "";
    win->Command3->click();
    EXPECT_EQ(messages.size(), 1U);
    EXPECT_EQ(saveAsked, 2);
}

// ---- Finding the loop and dropping files
// -------------------------------------------------------------

// 8000 frames per second: an intro of 1 s, then a loop of 26411 frames that nothing rings across.
testwave::LoopedMusic LoopedSound() {
    testwave::LoopedMusic music;
    music.format = testwave::Pcm(16, 2, 8000);
    music.introFrames = 8000;
    music.loopFrames = 26411;
    music.totalFrames = 8000 + 2 * 26411 + 8000;
    music.ringAcross = false;
    return music;
}

void PressControl(QWidget* window, Qt::Key key) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, key, Qt::ControlModifier);
}

TEST_F(MainWinTest, ControlFFindsTheLoopAndControlRRefinesIt) {
    const testwave::LoopedMusic music = LoopedSound();
    Start(WriteWave("looped.wav", music.format, testwave::RenderLoopedMusic(music)));
    // The tightest loop at the start: the found start lies right of the old end's reach, so the
    // points must be set together, not one after the other under the rules.
    win->LoopStart = 0;
    win->LoopEnd = 16000;
    CaptionLog log;
    win->installEventFilter(&log);
    PressControl(win.get(), Qt::Key_F);
    win->removeEventFilter(&log);
    EXPECT_EQ(win->LoopStart, 8000);
    EXPECT_EQ(win->LoopEnd, 34411);
    EXPECT_EQ(win->Text1[0]->text(), Q("8000"));
    EXPECT_EQ(win->Text1[1]->text(), Q("34411"));
    EXPECT_EQ(log.captions, (std::vector<QString>{Q("検索中…"), Q("Rundelt v1.0")}));
    EXPECT_EQ(log.waitCursor, (std::vector<bool>{true, false}));

    win->LoopStart = 8000 + 3200;  // 0.4 s off each way
    win->LoopEnd = 34411 - 3200;
    PressControl(win.get(), Qt::Key_R);
    EXPECT_EQ(win->LoopStart, 8000);
    EXPECT_EQ(win->LoopEnd, 34411);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// Ctrl+G opens the join's window beside the main one; it follows every change of the loop
// (nudge, bar, typed value, Ctrl+F), comes forward on Ctrl+G again, and closes with the main one.
TEST_F(MainWinTest, ControlGShowsTheJoinAndFollowsTheLoop) {
    const testwave::LoopedMusic music = LoopedSound();
    Start(WriteWave("looped.wav", music.format, testwave::RenderLoopedMusic(music)));
    PressControl(win.get(), Qt::Key_G);
    window::JoinWindow* join = win->JoinWin();
    ASSERT_NE(join, nullptr);
    EXPECT_TRUE(join->isVisible());
    EXPECT_EQ(join->windowTitle(), Q("継ぎ目"));
    EXPECT_GE(join->frameGeometry().left(), win->frameGeometry().right());
    const auto follows = [&](const char* how) {
        SCOPED_TRACE(how);
        EXPECT_EQ(join->LoopStart(), win->LoopStart);
        EXPECT_EQ(join->LoopEnd(), win->LoopEnd);
        EXPECT_EQ(join->Picture().joined.size(), 2u);  // stereo: a lane each
    };
    follows("opened");
    win->Command1[0]->click();
    follows("a nudge");
    Type(0, "9000");
    QTest::keyClick(win->Text1[0], Qt::Key_Return);
    follows("a typed value");
    QTest::mouseClick(win->Picture1, Qt::LeftButton, {}, QPoint(3, 3));
    follows("the bar");
    PressControl(win.get(), Qt::Key_F);
    follows("Ctrl+F");
    EXPECT_EQ(join->LoopStart(), 8000);

    join->lower();
    PressControl(win.get(), Qt::Key_G);
    EXPECT_EQ(win->JoinWin(), join);  // the same window, brought forward
    win->close();
    EXPECT_FALSE(join->isVisible());
}

// Ctrl+F again goes to the next of the best few, Shift+Ctrl+F back; a search only the first
// time; any other change of the loop starts again from the best, even one that comes back.
TEST_F(MainWinTest, ControlFGoesThroughTheCandidates) {
    testwave::LoopedMusic music = LoopedSound();
    music.totalFrames = 8000 + 5 * 26411 + 8000;  // five passes: the pass, and twice the pass
    Start(WriteWave("five.wav", music.format, testwave::RenderLoopedMusic(music)));
    const std::vector<finder::LoopCandidate> expected =
        wavemisc::FindLoopCandidates(wavemisc::FoundLoops::kCandidates);
    ASSERT_GE(expected.size(), 2u);
    const QString of = Q("/") + QString::number(expected.size()) + Q("　継ぎ目 ");
    const auto shows = [&](std::size_t index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(win->LoopStart, expected[index].start);
        EXPECT_EQ(win->LoopEnd, expected[index].end);
        EXPECT_TRUE(
            win->Picture1->toolTip().startsWith(Q("候補 ") + QString::number(index + 1) + of))
            << win->Picture1->toolTip().toStdString();
    };

    PressControl(win.get(), Qt::Key_F);
    shows(0);
    CaptionLog log;
    win->installEventFilter(&log);
    PressControl(win.get(), Qt::Key_F);
    shows(1);
    win->activateWindow();
    QTest::keyClick(win.get(), Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    shows(0);
    win->removeEventFilter(&log);
    EXPECT_TRUE(log.captions.empty());  // the candidates were searched once

    win->Command1_Click(1);  // one frame on, and back: the loop was changed all the same
    win->Command1_Click(0);
    EXPECT_EQ(win->Picture1->toolTip().indexOf(Q("候補")), -1);
    PressControl(win.get(), Qt::Key_F);
    shows(0);

    // A new file is searched anew.
    Start(WriteWave("again.wav", music.format, testwave::RenderLoopedMusic(music)));
    win->installEventFilter(&log);
    PressControl(win.get(), Qt::Key_F);
    win->removeEventFilter(&log);
    shows(0);
    EXPECT_EQ(log.captions, (std::vector<QString>{Q("検索中…"), Q("Rundelt v1.0")}));
}

TEST_F(MainWinTest, FindKeysWithoutSoundOrWithoutALoop) {
    Start("");
    CaptionLog log;
    win->installEventFilter(&log);
    PressControl(win.get(), Qt::Key_F);
    PressControl(win.get(), Qt::Key_R);
    win->removeEventFilter(&log);
    EXPECT_TRUE(log.captions.empty());
    EXPECT_TRUE(messages.empty());

    Start(WriteWave("noise.wav", testwave::Pcm(8, 1, 8000), testwave::Noise(8000 * 6)));
    for (const Qt::Key key : {Qt::Key_F, Qt::Key_R}) {
        messages.clear();
        PressControl(win.get(), key);
        EXPECT_EQ(messages, (std::vector<std::string>{"ループ候補が見つかりませんでした"})) << key;
        EXPECT_EQ(win->LoopStart, 0);
        EXPECT_EQ(win->LoopEnd, 47999);
    }
}

TEST_F(MainWinTest, DroppingAFileOpensItAsTheOpenButtonWould) {
    Start("");
    const std::string path = TenSeconds();
    QMimeData file;
    file.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &file, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(win.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &file, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(win.get(), &drop);
    QCoreApplication::processEvents();  // opened once the drop has finished
    EXPECT_EQ(win->LoadError, "");
    EXPECT_EQ(win->LoopEnd, 440999);
    EXPECT_EQ(openAsked, 1);  // the start-up dialog only

    // On a text box the file opens too, instead of its name landing in the box.
    Bytes notWave = testwave::Wave(testwave::Pcm(16, 2, 44100), testwave::Pattern(1000));
    notWave[0] = 'X';
    const std::string refused = temp.path + "/refused.wav";
    testwave::WriteFile(refused, notWave);
    QMimeData other;
    other.setUrls({QUrl::fromLocalFile(QString::fromStdString(refused))});
    other.setText(QString::fromStdString(refused));  // what file managers offer besides the address
    for (QWidget* box : {static_cast<QWidget*>(win->Text1[0]), win->Text2->viewport()}) {
        messages.clear();
        QDragEnterEvent enterBox(QPoint(5, 5), Qt::CopyAction, &other, Qt::LeftButton,
                                 Qt::NoModifier);
        QCoreApplication::sendEvent(box, &enterBox);
        QDropEvent onBox(QPointF(5, 5), Qt::CopyAction, &other, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(box, &onBox);
        QCoreApplication::processEvents();
        EXPECT_EQ(messages, (std::vector<std::string>{"不正なRIFFヘッダです"}));
    }
    EXPECT_EQ(win->Text1[0]->text(), Q("0"));
    EXPECT_EQ(win->Text2->toPlainText().indexOf(Q("refused")), -1);
}

TEST_F(MainWinTest, ClosingTheWindowReleasesTheDevice) {
    Start(TenSeconds());
    ASSERT_TRUE(device.isOpen);
    device.ClearRecord();
    win->close();
    EXPECT_FALSE(device.isOpen);
    EXPECT_TRUE(Called(device, "waveOutClose"));
    EXPECT_EQ(wavemisc::WaveOutHandle, 0U);
}

// ---- Rips in other formats, Ctrl+T and where the join's window goes
// ----------------------------------------------------------------------------------------------

// The window over rips that libsndfile encoded.
class MainWinRipsTest : public MainWinTest {
protected:
    std::string Rip(const std::string& name, const testwave::RipFormat& format) {
        const std::string path = temp.path + "/" + name + format.extension;
        EXPECT_EQ(testwave::EncodeRip(path, format), "");
        return path;
    }
};

// An Ogg file on the command line opens as a wave file does, its decoding behind the busy
// caption and cursor of a window already up; a wave file opens as it always has, without them.
TEST_F(MainWinRipsTest, AnOggFileOpensFromTheCommandLineBehindTheBusyCaption) {
    const std::string path = Rip("song", testwave::kOggVorbis);
    win = std::make_unique<MainWin>();  // not shown yet, as at start-up
    CaptionLog log;
    win->installEventFilter(&log);
    win->Form_Load(path);
    win->removeEventFilter(&log);
    EXPECT_TRUE(win->isVisible());
    EXPECT_EQ(log.captions, (std::vector<QString>{Q("読み込み中…"), Q("Rundelt v1.0")}));
    EXPECT_EQ(log.waitCursor, (std::vector<bool>{true, false}));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_EQ(win->LoadError, "");
    EXPECT_EQ(openAsked, 0);

    // Six seconds at 48 kHz, decoded to 16-bit stereo as the preview plays it.
    EXPECT_EQ(win->Text2->toPlainText(), Q("ファイル名              ： ") +
                                             QString::fromStdString(path) +
                                             Q("\nサンプリングレート      ： 48000Hz\n"
                                               "サンプリングビット数    ： 16bit\n"
                                               "ステレオ,モノラル       ： ステレオ\n"
                                               "1秒あたりのデータサイズ ： 192000byte\n"
                                               "データサイズ            ： 1152000\n"
                                               "再生時間                ： 6.00秒"));
    EXPECT_EQ(win->LoopEnd, 287999);
    EXPECT_TRUE(messages.empty());

    CaptionLog waveLog;
    win->installEventFilter(&waveLog);
    win->OpenWaveFile(TenSeconds());
    win->removeEventFilter(&waveLog);
    EXPECT_EQ(win->LoadError, "");
    EXPECT_TRUE(waveLog.captions.empty()) << "a wave file opens without a busy caption";
}

// Every format opens from the open dialog and by a drop, and shows its decoded 16 bits.
TEST_F(MainWinRipsTest, EachFormatOpensFromTheDialogAndWhenDropped) {
    Start("");
    struct Row {
        testwave::RipFormat format;
        bool dropped;
    };
    for (const Row& row :
         {Row{testwave::kFlac16, false}, Row{testwave::kFlac24, true},
          Row{testwave::kOggOpus, false}, Row{testwave::kMp3, true}, Row{testwave::kAiff, false}}) {
        SCOPED_TRACE(row.format.name);
        const std::string path =
            Rip(std::string("rip ") + (row.dropped ? "dropped" : "chosen"), row.format);
        win->OpenWaveFile(TenSeconds());  // another sound first
        if (row.dropped) {
            QMimeData file;
            file.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &file, Qt::LeftButton,
                                  Qt::NoModifier);
            QCoreApplication::sendEvent(win.get(), &enter);
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &file, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(win.get(), &drop);
            QCoreApplication::processEvents();  // opened once the drop has finished
        } else {
            openAnswer = path;
            win->Command2->click();
        }
        ASSERT_EQ(win->LoadError, "");
        const QStringList lines = win->Text2->toPlainText().split(QLatin1Char('\n'));
        EXPECT_TRUE(lines[0].endsWith(QString::fromStdString(path)));
        EXPECT_EQ(lines[2], Q("サンプリングビット数    ： 16bit"));
        EXPECT_EQ(win->LoopEnd, 287999);
        EXPECT_TRUE(device.isOpen);
    }
    EXPECT_TRUE(messages.empty());
}

// A save named .flac, .ogg, .opus or .mp3 is the file `rundelt-cli save` writes for the same
// loop, repeat and fade; .wav the wave file. Byte for byte, but for the serial number that the
// Ogg encoder draws at random for each stream: there, the same stream decoded.
TEST_F(MainWinRipsTest, SaveWritesWhatTheCommandLineWritesForTheName) {
    const testwave::LoopedMusic music = testwave::RipMusic();
    const std::string source = Rip("song", testwave::kOggVorbis);
    Start(source);
    ASSERT_EQ(win->LoadError, "");
    win->LoopStart = static_cast<std::int32_t>(music.introFrames);
    win->LoopEnd = static_cast<std::int32_t>(music.introFrames + music.loopFrames);
    win->HScroll1[0]->setValue(3);
    win->HScroll1[1]->setValue(1);
    for (const std::string extension : {".flac", ".ogg", ".opus", ".mp3", ".wav"}) {
        SCOPED_TRACE(extension);
        saveAnswer = temp.path + "/window" + extension;
        CaptionLog log;
        win->installEventFilter(&log);
        win->Command3->click();
        win->removeEventFilter(&log);
        EXPECT_EQ(log.captions, (std::vector<QString>{Q("保存中…"), Q("Rundelt v1.0")}));
        const std::string expected = temp.path + "/cli" + extension;
        const testwave::RunResult cli = testwave::RunCli(
            {"save", source, expected, "--start", std::to_string(win->LoopStart), "--end",
             std::to_string(win->LoopEnd), "--repeat", "3", "--fade", "1"});
        ASSERT_EQ(cli.exitCode, 0) << cli.err;
        if (extension == ".ogg" || extension == ".opus") {
            const testwave::Decoded written = testwave::DecodeFile(saveAnswer);
            const testwave::Decoded wanted = testwave::DecodeFile(expected);
            EXPECT_EQ(written.sfFormat, wanted.sfFormat);
            EXPECT_GT(written.frames, 0);
            EXPECT_TRUE(written.samples == wanted.samples);
            continue;
        }
        const testwave::Bytes written = testwave::ReadFile(saveAnswer);
        const testwave::Bytes wanted = testwave::ReadFile(expected);
        ASSERT_EQ(written.size(), wanted.size());
        const auto diff = std::mismatch(written.begin(), written.end(), wanted.begin());
        EXPECT_EQ(diff.first, written.end())
            << "first difference at byte " << (diff.first - written.begin());
    }
    EXPECT_TRUE(messages.empty());
}

// Ctrl+T asks first, naming the file and the loop; only then is the loop written into the file,
// as the comments a player reads, and the sound the window holds is the file's sound still.
TEST_F(MainWinRipsTest, ControlTAsksThenWritesTheLoopIntoTheFile) {
    Start("");
    PressControl(win.get(), Qt::Key_T);
    EXPECT_TRUE(questions.empty()) << "without a sound Ctrl+T does nothing";

    const std::string path = Rip("song", testwave::kOggVorbis);
    win->OpenWaveFile(path);
    ASSERT_EQ(win->LoadError, "");
    const std::vector<std::uint8_t> loaded = wavemisc::SoundData;
    const testwave::Decoded decoded = testwave::DecodeFile(path);
    win->LoopStart = 24000;
    win->LoopEnd = 144000;
    const testwave::Bytes before = testwave::ReadFile(path);
    confirm = false;
    PressControl(win.get(), Qt::Key_T);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0],
              "このファイルにループを書き込みます。音声とほかのタグはそのままです。\n" + path +
                  "\n\n開始：24000（0:00.500）\n終了：144000（0:03.000）");
    EXPECT_TRUE(testwave::ReadFile(path) == before) << "cancelled, yet the file changed";

    confirm = true;
    CaptionLog log;
    win->installEventFilter(&log);
    PressControl(win.get(), Qt::Key_T);
    win->removeEventFilter(&log);
    EXPECT_EQ(log.captions, (std::vector<QString>{Q("保存中…"), Q("Rundelt v1.0")}));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(testwave::TagProperty(path, "LOOPSTART"), "24000");
    EXPECT_EQ(testwave::TagProperty(path, "LOOPLENGTH"), "120000");
    EXPECT_TRUE(testwave::DecodeFile(path).samples == decoded.samples) << "the sound changed";
    EXPECT_TRUE(wavemisc::SoundData == loaded);
    EXPECT_EQ(win->LoopStart, 24000);
    EXPECT_EQ(win->LoopEnd, 144000);

    // A file that cannot carry the loop: the reason is shown, the file stays as it was.
    const std::string aiff = Rip("song", testwave::kAiff);
    win->OpenWaveFile(aiff);
    const testwave::Bytes aiffBefore = testwave::ReadFile(aiff);
    PressControl(win.get(), Qt::Key_T);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("ループタグを書けません：", 0), 0u) << messages[0];
    EXPECT_TRUE(testwave::ReadFile(aiff) == aiffBefore);
    EXPECT_EQ(win->windowTitle(), Q("Rundelt v1.0"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainWinRipsTest, BarTooltipListsEveryKey) {
    Start(TenSeconds());
    const QStringList keys = win->Picture1->toolTip().split(QLatin1Char('\n'));
    EXPECT_EQ(
        keys,
        (QStringList{Q("Ctrl+F：ループを探す"), Q("Ctrl+R：今のループを各点0.5秒以内で合わせ直す"),
                     Q("Ctrl+G：継ぎ目の図を表示する"), Q("Ctrl+T：ループをファイルに書き込む")}));
}

// Ctrl+G's window opens beside the main one where there is room, else on the other side or
// over it, and always whole on the screen (here 1280 x 800 pixels).
TEST_F(MainWinRipsTest, TheJoinsWindowOpensOnTheScreen) {
    Start(TenSeconds());
    const QRect screen = win->screen()->availableGeometry();
    ASSERT_EQ(screen.width(), 1280);
    struct Row {
        const char* name;
        int mainLeft;
        int mainTop;
        int side;  // 1 right of the main window, -1 left of it, 0 over it
    };
    const Row rows[] = {
        {"at the left edge", 0, 0, 1},
        {"at the right edge", 1280 - 444, 100, -1},
        {"in the middle", (1280 - 444) / 2, 300, 0},
        {"low on the screen", 0, 800 - 373, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if (win->JoinWin() != nullptr) win->JoinWin()->close();
        win->move(row.mainLeft, row.mainTop);
        PressControl(win.get(), Qt::Key_G);
        const window::JoinWindow* join = win->JoinWin();
        ASSERT_NE(join, nullptr);
        const QRect frame = join->frameGeometry();
        const QRect main = win->frameGeometry();
        EXPECT_TRUE(screen.contains(frame)) << frame.x() << "," << frame.y();
        if (row.side == 1) {
            EXPECT_GT(frame.left(), main.right());
        } else if (row.side == -1) {
            EXPECT_LT(frame.right(), main.left());
        } else {
            EXPECT_TRUE(frame.intersects(main));
        }
    }
}

}  // namespace
