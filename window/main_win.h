// SPDX-License-Identifier: GPL-3.0-or-later
// MainWin, the tool's one window: its controls at their fixed places, the loop state, and the
// handlers that edit the loop, find it, show it, open and save files and play the seam preview.
// The loop rules live in wave/loop_rules.h and the editing arithmetic in app/loop_editing.h; the
// sound itself, the device and the finder's procedures belong to wavemisc, the dialogs to misc.
#pragma once

#include <QWidget>
#include <array>
#include <cstdint>
#include <string>

#include "app/found_loops.h"
#include "finder/loop_finder.h"

class QCloseEvent;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QScrollBar;
class QTimer;

namespace window {

class OverviewBar;
class JoinWindow;

class MainWin : public QWidget {
    Q_OBJECT

public:
    explicit MainWin(QWidget* parent = nullptr);
    ~MainWin() override;

    // Window load: a command line naming an existing file opens it, anything else asks with the
    // open dialog.
    void Form_Load(const std::string& commandLine);
    // Window unload: releases the sound device.
    void Form_Unload();

    void Command1_Click(int index);
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Text1_LostFocus(int index);
    void Text1_KeyPress(int index, int key);
    void Picture1_MouseDown(int button, float x);
    void Picture1_MouseMove(int buttons, float x);
    void HScroll1_Change(int index);
    void Timer1_Timer();

    void RefreshInformation();
    void RefreshBar();
    void OpenWaveFile(const std::string& path);

    // Ctrl+F: both loop points to the finder's best candidate, or, pressed again while the loop
    // is still the one it set, to the next of its best few; Shift+Ctrl+F to the one before.
    // Ctrl+R: the current loop refined within half a second of each point. Nothing without a
    // sound; a message when none is found. The bar's tooltip says which candidate is shown.
    void FindLoop();
    void FindPreviousLoop();
    void RefineLoop();
    // Ctrl+G: the window of the join, opened beside this one, or brought forward.
    void ShowJoinWindow();
    // Ctrl+T: the loop written into the opened file as `rundelt-cli tag` writes it, once the
    // user has confirmed the file and the loop; a failure is shown with its reason.
    void WriteLoopIntoFile();
    JoinWindow* JoinWin() const { return joinWindow_; }

    // Controls, by their names.
    std::array<QPushButton*, 20> Command1{};
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    std::array<QLineEdit*, 2> Text1{};
    QPlainTextEdit* Text2 = nullptr;
    std::array<QLabel*, 5> Label1{};
    std::array<QLabel*, 4> Label2{};
    std::array<QScrollBar*, 2> HScroll1{};
    OverviewBar* Picture1 = nullptr;
    QTimer* Timer1 = nullptr;

    // Window loop state: "" while a sound is loaded, otherwise why not.
    std::string LoadError;
    std::int32_t LoopStart = 0;
    std::int32_t LoopEnd = 0;
    std::int32_t LastFrame = 0;
    std::int32_t PreviewStart = 0;
    std::int32_t PreviewEnd = 0;
    std::int32_t CursorFrame = 0;
    // The device position at the timer's previous tick while a sound was loaded; outlives loads.
    std::int32_t LastPosition = 0;

    static constexpr const char* kCaption = "Rundelt v1.0";

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A sound file dropped anywhere on the window opens as the open button's would.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The join window follows the loop while it is open.
    void RefreshJoin();
    // The join window beside this one, on the screen.
    void PlaceJoinWindow();
    JoinWindow* joinWindow_ = nullptr;

    void CreateControls();
    void CreateFileButtons();
    void CreateInformationBox();
    void CreateSettings();
    void CreateLoopBoxes();
    void CreateNudgeButtons();
    void PressFoundLoop(int step);
    // Both loop points to a found loop, and the displays refreshed.
    void SetLoop(const finder::LoopCandidate& loop);
    // The loop was changed by other means than the list of found loops.
    void LoopEdited();
    // The bar's tooltip: the found loop shown, or "" for the keys alone.
    void ShowFoundLoop(const std::string& text);

    wavemisc::FoundLoops foundLoops_;
};

}  // namespace window
