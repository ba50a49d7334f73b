// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/main_win.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFocusEvent>
#include <QFontInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <cassert>
#include <filesystem>
#include <optional>
#include <system_error>

#include "app/loaded_sound.h"
#include "app/loop_editing.h"
#include "app/preview_device.h"
#include "app/window_placement.h"
#include "finder/loop_finder.h"
#include "wave/information_text.h"
#include "wave/loop_rules.h"
#include "wave/looped_wave.h"
#include "wave/rounding.h"
#include "wave/user_texts.h"
#include "window/file_dialogs.h"
#include "window/join_window.h"
#include "window/overview_bar.h"

namespace window {

using wave::ApplyEndRule;
using wave::ApplyStartRule;
using wave::ClampToInt32;

namespace {

// Places are kept in twips, 15 to a logical pixel; Qt scales pixels for high-DPI screens.
constexpr int kTwipsPerPixel = 15;

constexpr int Px(int twips) { return twips / kTwipsPerPixel; }

QRect Place(int left, int top, int width, int height) {
    return QRect(Px(left), Px(top), Px(width), Px(height));
}

constexpr int kClientWidth = 6600;
constexpr int kClientHeight = 5535;
static_assert(kClientWidth % kTwipsPerPixel == 0 && kClientHeight % kTwipsPerPixel == 0);

constexpr int kEnterKey = 13;
constexpr int kTimerIntervalMs = 50;

// Nudge rows: top edge and unit caption; the four buttons of row r are indices 2r, 2r+1 (start)
// and 2r+10, 2r+11 (end).
struct NudgeRowPlace {
    int top;
    const char* unit;
};
constexpr std::array<NudgeRowPlace, wavemisc::kNudgeRows> kNudgeRowPlaces{{
    {3120, "sample単位"},
    {3480, "10sample単位"},
    {3840, "0.1秒単位"},
    {4200, "1秒単位"},
    {4560, "10秒単位"},
}};
constexpr std::array<int, 4> kNudgeLefts{1920, 2160, 4200, 4440};  // start <, start >, end <, end >

QString Text(const std::string& text) { return QString::fromStdString(text); }
QString Text(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The largest pixel size from `largest` down to 6 at which the face's metrics pass `fits`.
template <typename Fits>
int LargestFittingPixelSize(QFont font, int largest, Fits fits) {
    int pixelSize = largest;
    for (; pixelSize > 6; --pixelSize) {
        font.setPixelSize(pixelSize);
        if (fits(QFontMetrics(font))) break;
    }
    return pixelSize;
}

// The proportional faces we install set Latin letters wider than the face the places were drawn
// for; a label whose longest caption would be clipped is set a pixel size smaller until it fits.
void FitLabel(QLabel* label, const QString& longest) {
    const int room = label->contentsRect().width();
    const auto fits = [&](const QFontMetrics& metrics) {
        return metrics.horizontalAdvance(longest) <= room;
    };
    if (fits(label->fontMetrics())) return;  // keeps the window's face as it is
    QFont font = label->font();
    font.setPixelSize(LargestFittingPixelSize(font, QFontInfo(font).pixelSize() - 1, fits));
    label->setFont(font);
}

// The information text: seven lines, which the box was sized to show whole in a 9-point face
// (12 px). The faces we install are taller per pixel size than the one it was drawn for, so the
// size is the largest up to 12 px at which the seven lines fit between the trimmed margins.
constexpr int kInfoLines = 7;
constexpr int kInfoMarginPx = 1;
constexpr int kInfoMaxPixelSize = 12;

int InfoPixelSize(const QFont& font, int boxHeight) {
    return LargestFittingPixelSize(font, kInfoMaxPixelSize, [&](const QFontMetrics& metrics) {
        return metrics.lineSpacing() * kInfoLines + 2 * kInfoMarginPx <= boxHeight;
    });
}

std::int64_t HalfWindow() { return wave::HalfWindowFrames(wavemisc::SoundFormat); }

QString RepeatCaption(int value) {
    return QStringLiteral("リピート回数：") + QString::number(value);
}

QString FadeCaption(int value) {
    return QStringLiteral("フェードアウト時間：") + QString::number(value) + QStringLiteral("秒");
}

// A save or a search blocks the window; the caption and the cursor say so, and come back either
// way. The new caption is painted before the work starts; user input waits until after it.
class BusyCaption {
public:
    BusyCaption(QWidget* window, const QString& caption)
        : window_(window), saved_(window->windowTitle()) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        window_->setWindowTitle(caption);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    ~BusyCaption() {
        QApplication::restoreOverrideCursor();
        window_->setWindowTitle(saved_);
    }
    BusyCaption(const BusyCaption&) = delete;
    BusyCaption& operator=(const BusyCaption&) = delete;

private:
    QWidget* window_;
    QString saved_;
};

constexpr double kRefineRadiusSeconds = finder::kDefaultRadiusSeconds;

// The keys of the finder, the join's window and the loop tags, as the bar's tooltip names them.
const QString kFinderKeys =
    QStringLiteral("Ctrl+F：ループを探す\nCtrl+R：今のループを各点0.5秒以内で合わせ直す\n") +
    Text(wave::kJoinKey) + QStringLiteral("\n") + Text(wave::kTagKey);

// Pixels between the main window and the join's window beside it.
constexpr int kJoinGapPx = 8;

wavemisc::ScreenRect ScreenRectOf(const QRect& rect) {
    return wavemisc::ScreenRect{rect.x(), rect.y(), rect.width(), rect.height()};
}

// The path of the first local file among dropped data, or "".
std::string DroppedFile(const QMimeData* data) {
    if (data == nullptr) return "";
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return url.toLocalFile().toStdString();
    return "";
}

}  // namespace

MainWin::MainWin(QWidget* parent) : QWidget(parent) {
    setWindowTitle(QString::fromUtf8(kCaption));
    setFixedSize(Px(kClientWidth), Px(kClientHeight));
    // Japanese captions in a Japanese face: left to the default Latin face, the fallback may pick
    // Chinese glyph forms, and wider kana that no longer fit the fixed label widths.
    QFont uiFont = font();
    uiFont.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("IPAPGothic"),
                        QStringLiteral("Noto Sans CJK JP")});
    uiFont.setPointSize(9);
    setFont(uiFont);
    CreateControls();

    LoadError = wave::kNoFileChosen;
    Timer1->start(kTimerIntervalMs);

    const auto* findKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_F), this);
    connect(findKey, &QShortcut::activated, this, &MainWin::FindLoop);
    const auto* previousKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F), this);
    connect(previousKey, &QShortcut::activated, this, &MainWin::FindPreviousLoop);
    const auto* refineKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_R), this);
    connect(refineKey, &QShortcut::activated, this, &MainWin::RefineLoop);
    const auto* joinKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_G), this);
    connect(joinKey, &QShortcut::activated, this, &MainWin::ShowJoinWindow);
    const auto* tagKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), this);
    connect(tagKey, &QShortcut::activated, this, &MainWin::WriteLoopIntoFile);
    ShowFoundLoop("");
    // The text boxes would take a dropped file's name as text; the window opens the file instead.
    setAcceptDrops(true);
    Text2->installEventFilter(this);
    Text2->viewport()->installEventFilter(this);
}

MainWin::~MainWin() {
    // Destroying the children can move the focus; the handlers must not run on a dying window.
    Timer1->stop();
    for (QLineEdit* box : Text1) box->removeEventFilter(this);
    Text2->removeEventFilter(this);
    Text2->viewport()->removeEventFilter(this);
}

void MainWin::CreateControls() {
    CreateFileButtons();
    CreateInformationBox();
    CreateSettings();
    CreateLoopBoxes();
    CreateNudgeButtons();
    Picture1 = new OverviewBar(this);
    Picture1->setGeometry(Place(240, 4920, 6060, 495));
    connect(Picture1, &OverviewBar::MouseDown, this, &MainWin::Picture1_MouseDown);
    connect(Picture1, &OverviewBar::MouseMove, this, &MainWin::Picture1_MouseMove);
    Timer1 = new QTimer(this);
    connect(Timer1, &QTimer::timeout, this, &MainWin::Timer1_Timer);
}

void MainWin::CreateFileButtons() {
    Command2 = new QPushButton(QStringLiteral("別ファイルを開く"), this);
    Command2->setGeometry(Place(600, 240, 1455, 375));
    connect(Command2, &QPushButton::clicked, this, [this] { Command2_Click(); });

    Command3 = new QPushButton(QStringLiteral("保存"), this);
    Command3->setGeometry(Place(2400, 240, 1455, 375));
    connect(Command3, &QPushButton::clicked, this, [this] { Command3_Click(); });
}

void MainWin::CreateInformationBox() {
    Text2 = new QPlainTextEdit(this);
    Text2->setGeometry(Place(240, 840, 5895, 1335));
    Text2->setLineWrapMode(QPlainTextEdit::NoWrap);
    // A long path is cut at the right edge (the caret still scrolls to it): a horizontal scroll
    // bar would cover the last line.
    Text2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A fixed-pitch Japanese face, so a full-width character is two columns and the colons of
    // the information lines stand one under another.
    QFont infoFont = Text2->font();
    infoFont.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("IPAGothic"),
                          QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("VL Gothic")});
    infoFont.setStyleHint(QFont::Monospace);
    infoFont.setFixedPitch(true);
    Text2->document()->setDocumentMargin(kInfoMarginPx);
    infoFont.setPixelSize(InfoPixelSize(infoFont, Text2->contentsRect().height()));
    Text2->setFont(infoFont);
}

// The repeat count and fade-out bars with their labels, and the preview button beside them.
void MainWin::CreateSettings() {
    Label2[0] = new QLabel(RepeatCaption(wave::kDefaultRepeatCount), this);
    Label2[0]->setGeometry(Place(360, 2280, 1575, 255));
    Label2[1] = new QLabel(FadeCaption(wave::kDefaultFadeSeconds), this);
    Label2[1]->setGeometry(Place(2160, 2280, 1935, 255));
    FitLabel(Label2[0], RepeatCaption(10));
    FitLabel(Label2[1], FadeCaption(30));

    struct ScrollSetting {
        QRect place;
        int minimum, maximum, value, arrowStep, troughStep;
    };
    const std::array<ScrollSetting, 2> scrolls{{
        {Place(360, 2640, 1335, 255), 1, 10, wave::kDefaultRepeatCount, 1, 1},
        {Place(2400, 2640, 1335, 255), 0, 30, wave::kDefaultFadeSeconds, 1, 5},
    }};
    for (int i = 0; i < 2; ++i) {
        const ScrollSetting& s = scrolls[static_cast<std::size_t>(i)];
        QScrollBar* bar = new QScrollBar(Qt::Horizontal, this);
        bar->setGeometry(s.place);
        bar->setRange(s.minimum, s.maximum);
        bar->setValue(s.value);
        bar->setSingleStep(s.arrowStep);
        bar->setPageStep(s.troughStep);
        // A click takes the focus, as scroll bars do on the platform the window was drawn for,
        // so a value typed into a loop box is applied before the bar moves.
        bar->setFocusPolicy(Qt::StrongFocus);
        // valueChanged also fires while the thumb is dragged.
        connect(bar, &QScrollBar::valueChanged, this, [this, i] { HScroll1_Change(i); });
        HScroll1[static_cast<std::size_t>(i)] = bar;
    }

    Command4 = new QPushButton(QStringLiteral("ループ部再生"), this);
    Command4->setGeometry(Place(4440, 2400, 1455, 375));
    connect(Command4, &QPushButton::clicked, this, [this] { Command4_Click(); });
}

// The two frame boxes and the time labels under them.
void MainWin::CreateLoopBoxes() {
    const std::array<QRect, 2> textPlaces{Place(480, 3240, 1095, 375),
                                          Place(5040, 3240, 1095, 375)};
    const std::array<QRect, 2> timePlaces{Place(240, 3720, 1575, 255),
                                          Place(4800, 3720, 1575, 255)};
    for (std::size_t i = 0; i < 2; ++i) {
        Text1[i] = new QLineEdit(this);
        Text1[i]->setGeometry(textPlaces[i]);
        // Focus loss and Enter are watched directly: editingFinished skips unchanged text.
        Text1[i]->installEventFilter(this);

        Label2[i + 2] = new QLabel(QStringLiteral("*****秒"), this);
        Label2[i + 2]->setGeometry(timePlaces[i]);
        Label2[i + 2]->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    }
}

void MainWin::CreateNudgeButtons() {
    for (int row = 0; row < wavemisc::kNudgeRows; ++row) {
        const NudgeRowPlace& place = kNudgeRowPlaces[static_cast<std::size_t>(row)];
        const std::array<int, 4> indices{2 * row, 2 * row + 1, 2 * row + 10, 2 * row + 11};
        for (std::size_t k = 0; k < 4; ++k) {
            const int index = indices[k];
            QPushButton* button =
                new QPushButton(index % 2 == 0 ? QStringLiteral("<") : QStringLiteral(">"), this);
            button->setGeometry(Place(kNudgeLefts[k], place.top, 255, 255));
            connect(button, &QPushButton::clicked, this, [this, index] { Command1_Click(index); });
            Command1[static_cast<std::size_t>(index)] = button;
        }
        QLabel* unit = new QLabel(QString::fromUtf8(place.unit), this);
        unit->setGeometry(Place(2760, place.top, 1095, 255));
        unit->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        FitLabel(unit, unit->text());
        Label1[static_cast<std::size_t>(row)] = unit;
    }
}

// ---- Start-up and shut-down -----------------------------------------------------------------

void MainWin::Form_Load(const std::string& commandLine) {
    LoadError = wave::kNoFileChosen;
    std::string path = commandLine;
    std::error_code error;
    if (path.empty() || !std::filesystem::is_regular_file(path, error)) {
        path = misc::ChooseOpenFile();
    }
    OpenWaveFile(path);
}

void MainWin::Form_Unload() { wavemisc::ClosePreviewDevice(); }

void MainWin::closeEvent(QCloseEvent* event) {
    if (joinWindow_ != nullptr) joinWindow_->close();
    Form_Unload();
    event->accept();
}

// ---- Loop editing ---------------------------------------------------------------------------

void MainWin::Command1_Click(int index) {
    if (!LoadError.empty()) return;
    const std::int64_t step = wavemisc::NudgeStep(index, wavemisc::SoundFormat.nSamplesPerSec);
    if (wavemisc::NudgeMovesStart(index)) {
        LoopStart =
            ApplyStartRule(ClampToInt32(std::int64_t{LoopStart} + step), LoopEnd, HalfWindow());
    } else {
        LoopEnd = ApplyEndRule(ClampToInt32(std::int64_t{LoopEnd} + step), LoopStart, HalfWindow(),
                               LastFrame);
    }
    LoopEdited();
    RefreshInformation();
}

void MainWin::Picture1_MouseDown(int button, float x) {
    if (!LoadError.empty()) return;
    const std::int32_t candidate = wavemisc::FrameAtBar(x, LastFrame);
    if (button == 1) {
        LoopStart = ApplyStartRule(candidate, LoopEnd, HalfWindow());
    } else if (button == 2) {
        LoopEnd = ApplyEndRule(candidate, LoopStart, HalfWindow(), LastFrame);
    }
    LoopEdited();
    RefreshInformation();
}

void MainWin::Picture1_MouseMove(int buttons, float x) {
    if (buttons > 0) Picture1_MouseDown(buttons, x);
}

// Runs with or without a sound: the values are kept and the next load overwrites them.
void MainWin::Text1_LostFocus(int index) {
    const QLineEdit* box = Text1[index == 0 ? 0 : 1];
    const std::int32_t value = wavemisc::ReadFrameNumber(box->text().toStdString());
    const std::int32_t oldStart = LoopStart;
    const std::int32_t oldEnd = LoopEnd;
    if (index == 0) {
        LoopStart = ApplyStartRule(value, LoopEnd, HalfWindow());
    } else {
        LoopEnd = ApplyEndRule(value, LoopStart, HalfWindow(), LastFrame);
    }
    // Leaving a box without changing its value changes no loop.
    if (LoopStart != oldStart || LoopEnd != oldEnd) LoopEdited();
    RefreshInformation();
}

void MainWin::Text1_KeyPress(int index, int key) {
    if (key == kEnterKey) Text1_LostFocus(index);
}

bool MainWin::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::DragEnter || type == QEvent::DragMove || type == QEvent::Drop) &&
        !DroppedFile(static_cast<QDropEvent*>(event)->mimeData()).empty()) {
        if (type == QEvent::Drop) {
            dropEvent(static_cast<QDropEvent*>(event));
        } else {
            static_cast<QDropEvent*>(event)->acceptProposedAction();
        }
        return true;
    }
    for (int i = 0; i < 2; ++i) {
        if (watched != Text1[static_cast<std::size_t>(i)]) continue;
        if (event->type() == QEvent::FocusOut) {
            // Only a move to another control of this window counts, not the window itself
            // going to the background or the box's own context menu.
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
                Text1_LostFocus(i);
            }
        } else if (event->type() == QEvent::KeyPress) {
            const auto* keyEvent = static_cast<QKeyEvent*>(event);
            if (keyEvent->key() == Qt::Key_Return || keyEvent->key() == Qt::Key_Enter) {
                Text1_KeyPress(i, kEnterKey);
            }
        }
        break;
    }
    return QWidget::eventFilter(watched, event);  // the key goes on to the box unchanged
}

void MainWin::HScroll1_Change(int index) {
    (void)index;  // both labels follow both bars
    Label2[0]->setText(RepeatCaption(HScroll1[0]->value()));
    Label2[1]->setText(FadeCaption(HScroll1[1]->value()));
}

// ---- Display ----------------------------------------------------------------------------------

void MainWin::RefreshInformation() {
    if (!LoadError.empty()) return;
    Text1[0]->setText(QString::number(LoopStart));
    Text1[1]->setText(QString::number(LoopEnd));
    const std::int32_t rate = wavemisc::SoundFormat.nSamplesPerSec;
    Label2[2]->setText(Text(wavemisc::TimeText(LoopStart, rate)));
    Label2[3]->setText(Text(wavemisc::TimeText(LoopEnd, rate)));
    RefreshBar();
    RefreshJoin();
}

void MainWin::ShowJoinWindow() {
    if (joinWindow_ == nullptr) joinWindow_ = new JoinWindow(this);
    if (!joinWindow_->isVisible()) PlaceJoinWindow();
    joinWindow_->show();
    joinWindow_->raise();
    joinWindow_->activateWindow();
    RefreshJoin();
}

void MainWin::PlaceJoinWindow() {
    // A window not yet shown has no frame yet; it will get one as thick as this window's.
    const QRect frame = frameGeometry();
    const QSize size = joinWindow_->size() + frame.size() - geometry().size();
    const QScreen* where = screen();
    const QRect available = where != nullptr ? where->availableGeometry() : frame;
    const wavemisc::ScreenPoint at = wavemisc::PlaceBeside(
        ScreenRectOf(frame), size.width(), size.height(), ScreenRectOf(available), kJoinGapPx);
    joinWindow_->move(at.x, at.y);
}

void MainWin::RefreshJoin() {
    if (joinWindow_ == nullptr || !joinWindow_->isVisible()) return;
    if (!LoadError.empty()) {
        joinWindow_->ShowJoin(wavemisc::SoundFormat, {}, 0, 0);
        return;
    }
    joinWindow_->ShowJoin(wavemisc::SoundFormat, wavemisc::SoundData, LoopStart, LoopEnd);
}

void MainWin::RefreshBar() {
    // A sound whose frame count comes to 0 has no width to scale to.
    if (LastFrame == 0) {
        Picture1->DrawBackground();
        return;
    }
    Picture1->Draw(wavemisc::BarRatio(LoopStart, LastFrame), wavemisc::BarRatio(LoopEnd, LastFrame),
                   wavemisc::BarRatio(CursorFrame, LastFrame));
}

// ---- Opening ----------------------------------------------------------------------------------

void MainWin::OpenWaveFile(const std::string& path) {
    if (path.empty()) return;
    {
        // Decoding a long compressed file takes a while; a wave file is read as it always was.
        std::optional<BusyCaption> decoding;
        if (wavemisc::LoadDecodes(path)) {
            // At start-up the window is not up yet: it comes up first, so the caption is seen.
            if (!isVisible()) show();
            decoding.emplace(this, Text(wave::kLoadingCaption));
        }
        LoadError = wavemisc::LoadWave(path);
    }
    if (!LoadError.empty()) {
        misc::ShowMessage(LoadError);
        return;
    }
    const std::string information = wave::JoinLines(
        wave::InformationLines(path, wavemisc::SoundFormat, wavemisc::DataSize), "\r\n");
    LastFrame = wave::LastFrameOf(wavemisc::SoundFormat, wavemisc::DataSize);
    Text2->setPlainText(Text(information));
    PreviewStart = 0;
    PreviewEnd = 0;
    CursorFrame = 0;
    LoopStart = 0;
    LoopEnd = LastFrame;
    foundLoops_.Forget();
    LoopEdited();
    RefreshInformation();
}

// ---- Commands ---------------------------------------------------------------------------------

void MainWin::Command2_Click() { OpenWaveFile(misc::ChooseOpenFile()); }

void MainWin::Command3_Click() {
    if (!LoadError.empty()) return;
    const std::string path = misc::ChooseSaveFile();
    if (path.empty()) return;

    std::string message;
    {
        const BusyCaption saving(this, QStringLiteral("保存中…"));
        const int repeatCount = HScroll1[0]->value();
        const int fadeSeconds = HScroll1[1]->value();
        message = wavemisc::SaveLoopedWave(path, repeatCount, fadeSeconds, LoopStart, LoopEnd);
    }
    if (!message.empty()) misc::ShowMessage(message);
}

void MainWin::WriteLoopIntoFile() {
    if (!LoadError.empty()) return;
    const std::int32_t rate = wavemisc::SoundFormat.nSamplesPerSec;
    const std::string question = wave::TagLoopQuestion(wavemisc::SoundFile.path, LoopStart,
                                                       wavemisc::TimeText(LoopStart, rate), LoopEnd,
                                                       wavemisc::TimeText(LoopEnd, rate));
    if (!misc::AskToConfirm(question, std::string(wave::kTagLoopButton))) return;
    std::string message;
    {
        const BusyCaption saving(this, QStringLiteral("保存中…"));
        message = wavemisc::WriteLoopIntoFile(LoopStart, LoopEnd);
    }
    if (!message.empty()) misc::ShowMessage(message);
}

void MainWin::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedFile(event->mimeData()).empty()) event->acceptProposedAction();
}

void MainWin::dropEvent(QDropEvent* event) {
    const std::string path = DroppedFile(event->mimeData());
    if (path.empty()) return;
    event->acceptProposedAction();
    // Opened once the drop has finished: a refused file's message box must not hold the drag.
    QTimer::singleShot(0, this, [this, path] { OpenWaveFile(path); });
}

// ---- Finding the loop ---------------------------------------------------------------------------

void MainWin::FindLoop() { PressFoundLoop(1); }

void MainWin::FindPreviousLoop() { PressFoundLoop(-1); }

void MainWin::PressFoundLoop(int step) {
    if (!LoadError.empty()) return;
    if (!foundLoops_.Searched()) {
        const BusyCaption searching(this, QStringLiteral("検索中…"));
        foundLoops_.Keep(wavemisc::FindLoopCandidates(wavemisc::FoundLoops::kCandidates));
    }
    const std::optional<finder::LoopCandidate> loop = foundLoops_.Press(step, LoopStart, LoopEnd);
    if (!loop) {
        misc::ShowMessage(std::string(wave::kNoLoopFound));
        return;
    }
    SetLoop(*loop);
    ShowFoundLoop(foundLoops_.ShownText());
}

void MainWin::RefineLoop() {
    if (!LoadError.empty()) return;
    std::optional<finder::LoopCandidate> refined;
    {
        const BusyCaption searching(this, QStringLiteral("検索中…"));
        refined = wavemisc::RefineLoopPoints(LoopStart, LoopEnd, kRefineRadiusSeconds);
    }
    if (!refined) {
        misc::ShowMessage(std::string(wave::kNoLoopFound));
        return;
    }
    LoopEdited();
    SetLoop(*refined);
    ShowFoundLoop(wavemisc::SeamText(*refined));
}

void MainWin::SetLoop(const finder::LoopCandidate& loop) {
    // Both points at once: a candidate already keeps the loop rules, and one point set alone
    // against the other's old value could be pulled back by its rule.
    assert(wave::KeepsLoopRule(wave::LoopLimits{HalfWindow(), LastFrame}, loop.start, loop.end));
    LoopStart = loop.start;
    LoopEnd = loop.end;
    RefreshInformation();
}

void MainWin::LoopEdited() {
    foundLoops_.LoopChanged();
    ShowFoundLoop("");
}

void MainWin::ShowFoundLoop(const std::string& text) {
    Picture1->setToolTip(text.empty() ? kFinderKeys
                                      : Text(text) + QStringLiteral("\n") + kFinderKeys +
                                            QStringLiteral("\nShift+Ctrl+F：前の候補"));
}

// ---- Seam preview -----------------------------------------------------------------------------

void MainWin::Command4_Click() {
    if (!LoadError.empty()) return;
    wavemisc::StopPreview();
    // A format block whose sizes disagree could carry the copies past the sound: no preview.
    const std::string refusal = wavemisc::FillPreviewData(LoopStart, LoopEnd);
    if (!refusal.empty()) {
        misc::ShowMessage(refusal);
        return;
    }
    PreviewStart = LoopStart;
    PreviewEnd = LoopEnd;
    wavemisc::PlayPreview();
}

void MainWin::Timer1_Timer() {
    if (!LoadError.empty()) return;
    const std::int32_t position = wavemisc::GetPreviewPosition();
    if (position != LastPosition) {
        // Before the seam the cursor runs up to PreviewEnd, from it on from PreviewStart.
        const std::int64_t d = std::int64_t{position} - HalfWindow();
        CursorFrame =
            ClampToInt32((d < 0 ? std::int64_t{PreviewEnd} : std::int64_t{PreviewStart}) + d);
        RefreshBar();
    }
    LastPosition = position;
}

}  // namespace window
