// SPDX-License-Identifier: GPL-3.0-or-later
// The one table of the texts the user reads when something is refused or fails: the reader's
// verdicts, the reasons a save gives, the preview's refusals, the finder's and the device's, and
// the command line's usage, refusals and progress. The
// core reports codes; only this file turns them into words, kept exactly as given. Standard
// library only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "wave/loop_rules.h"

namespace wave {

enum class WaveError {
    None,
    CannotOpen,    // missing, a folder, no permission, a read error
    FileTooLarge,  // 2^31 - 8 bytes or more: offsets would leave 32 bits
    BadRiffHeader,
    BadChunkSize,
    NotPcm,
    BadFormat,
    NotWave,   // no "fmt " or no "data" chunk
    TooShort,  // under 5 seconds
    OutOfMemory,
};

std::string_view UserMessage(WaveError error);

// Every save failure message begins with this.
inline constexpr std::string_view kSaveFailed = "保存に失敗しました";

enum class SaveError {
    InconsistentFormat,  // the format block's sizes disagree
    BadLoop,             // the loop leaves the sound
    BadCounts,           // a negative repeat count or fade
    SamplerNeedsPass,    // a sampler loop with no pass to mark
    NoSound,             // nothing loaded
    OutOfMemory,
    WriteFailed,  // a write that failed without saying why
    NoSpace,
    NotPermitted,
    NoFolder,
    NotRegularFile,
    TooLarge,
    NameTooLong,
    Stopped,  // the user stopped it
    IoError,
    Busy,
    TooManyLinks,
    NoName,  // the destination is empty, or a file that no longer has a name
};

// kSaveFailed, "：" and the reason.
std::string SaveFailed(SaveError error);
// The same with a reason in the system's own words, for failures the table has no name for.
std::string SaveFailed(std::string_view reason);
// The reason alone, without kSaveFailed.
std::string_view SaveReason(SaveError error);

// A save whose new file took the destination's name, but whose folder could not be made to keep
// that name on disk: it is there, only not yet for certain.
std::string SavedButNotSure(std::string_view reason);

// A failed save whose hidden temporary file could not be removed either: the message, and where
// that file was left, so the user can remove it.
std::string WithFileLeft(std::string message, std::string_view path);

enum class PreviewError {
    None,
    InconsistentFormat,  // the halves' bytes and frames would disagree
    BufferSize,          // the preview buffer is not four seconds of bytes
    BadLoop,             // a half would leave the sound
};

std::string_view UserMessage(PreviewError error);

// What the user reads when the seam finder has no candidate.
inline constexpr std::string_view kNoLoopFound = "ループ候補が見つかりませんでした";

// What the window holds as its load error before any file is chosen.
inline constexpr std::string_view kNoFileChosen = "ファイル未選択";

// The sound device could not be opened: the prefix and the device's own code.
std::string DeviceOpenFailed(std::uint32_t code);

// The command line's texts.

// The usage that --help prints, and the hint after a usage error.
extern const std::string_view kCommandUsage;
inline constexpr std::string_view kUsageHint = "使い方は rundelt-cli --help で表示します\n";

std::string UnknownCommand(std::string_view name);
std::string UnknownOption(std::string_view option);
std::string ExtraArgument(std::string_view argument);
std::string NotForThisCommand(std::string_view option);
std::string MissingValue(std::string_view option);
std::string MissingOption(std::string_view option);

// What an option's value must be, named in the refusal of a bad one.
enum class ValueRange {
    Int32,
    Count,
    Top,
    Radius,
    Length,
    ExactLength,
    Jobs,
    Path,
    Format,
    Quality,
    None,
};
std::string BadValue(std::string_view option, std::string_view value, ValueRange range);

inline constexpr std::string_view kNoInputFile = "入力ファイルを指定してください";
inline constexpr std::string_view kNoInputAndOutputFile =
    "入力ファイルと出力ファイルを指定してください";
inline constexpr std::string_view kNoOutputFile = "出力ファイルを指定してください";
inline constexpr std::string_view kNoInputs = "入力ファイルかフォルダを指定してください";
inline constexpr std::string_view kRepeatWithLength = "--repeat と --length は一緒に使えません";
inline constexpr std::string_view kLengthBoundsReversed =
    "ループの長さの範囲が不正です：--min-length が --max-length より大きくなっています";
std::string SamplerNeedsPassArgument(std::string_view option, std::int32_t repeatCount);

// A loop outside the rules, with the limits it must keep.
std::string LoopOutsideRules(std::int64_t halfWindowFrames, std::int32_t lastFrame,
                             std::int32_t loopStart, std::int32_t loopEnd);

inline constexpr std::string_view kStandardOutputFailed = "標準出力に書き込めませんでした";

// The formats other than the wave file: reading them, writing them, and the loop tags.

// A compressed file that ends early or fails to decode part way: the file and the frame where
// decoding stopped.
std::string DecodeStopped(std::string_view path, std::int64_t frame);
// A file of a format we read ("FLAC", "Ogg", "MP3", "AIFF") that its decoder cannot even begin.
std::string UnreadableSound(std::string_view formatName);
// A sound whose decoded length and the length its file states disagree, where neither can be
// believed over the other: the file and both lengths in frames.
std::string LengthDisagrees(std::string_view path, std::int64_t decodedFrames,
                            std::int64_t statedFrames);
// A sound whose decoded samples do not match the checksum its file carries.
std::string ChecksumMismatch(std::string_view path);
// An Ogg file of several streams, one after the other or interleaved.
std::string SeveralOggStreams(std::string_view path);

// What the reader noticed in a file it read whole or refused: shown with --verbose, so that the
// user learns why a file was read as it was. Each note has up to two numbers.
enum class ReadNote {
    FlacLengthNotGiven,     // frames decoded
    FlacLengthBelowFrames,  // the length stated, the frames decoded (the MD5 agreed)
    FlacNoChecksum,         // the frames decoded
    FlacFrameDamaged,       // the frame where it was found
    FlacFrameOutOfPlace,    // the frame expected, the frame found there
    FlacFrameMissing,       // the frame where one is missing
    Mp3NoLengthHeader,      // frames decoded
    Mp3FramesDisagree,      // MPEG frames the header states, MPEG frames present
    Id3v2CoversAudio,       // the bytes the tag claims, the byte where the audio begins
    OggStrayStartFlag,      // the page's sequence number
    OggTrailingBytes,       // bytes after the last page
    OggDamagedPage,         // the byte where the damage begins
    OggPageMissing,         // the sequence number of the page after the gap
    OggNoEndOfStream,       // the sequence number of the last page
    OggLastPositionWrong,   // the last page's position, the position the packets reach
    AiffDataCut,            // the frames the COMM chunk states, the frames the data holds
    WaveDataCut,            // the frames the data holds
    DecoderComplained,      // the frame near which the decoder reported damage
};
struct ReadNoteValues {
    ReadNote note = ReadNote::FlacNoChecksum;
    std::int64_t first = 0;
    std::int64_t second = 0;
};
// The note on `path` as one line, without its line end.
std::string ReadNoteText(std::string_view path, const ReadNoteValues& note);
// More channels than the window and the finder take.
std::string TooManyChannels(int channels);
// A sound of `bits` bits, or of floating-point samples (bits 0), that the output asked for cannot
// hold without losing resolution.
std::string ResolutionWouldBeLost(int bits, std::string_view output);
// An output name whose extension is no format we write.
std::string UnknownOutputFormat(std::string_view path);
// Opus takes only some rates.
std::string OpusRateRefused(std::int32_t rate);
// MP3 takes only the rates of MPEG 1, 2 and 2.5.
std::string Mp3RateRefused(std::int32_t rate);
// An encoder that will not start for the sound's rate (Ogg Vorbis far beyond 192 kHz): the
// output's name ("Ogg Vorbis") and the rate.
std::string OutputRateRefused(std::string_view output, std::int32_t rate);
// An encoder that refused to start or failed part way.
std::string EncodeFailed();

// Why a loop tag cannot be written into a file.
enum class TagError {
    UnreadableOgg,
    NoCommentPacket,
    BrokenComments,
    OggAudioInHeaderPages,  // audio begins on a page that holds a header packet
    SeveralOggStreams,
    UnreadableMp3,
    Mp3NotWritten,
    UnreadableFlac,
    BrokenFlacMetadata,
    CommentsTooLarge,
    UnreadableWave,
    BadLoop,
    BrokenWaveChunks,
    FormatCannotCarry,  // AIFF, or no format we know
    SoundWouldChange,   // the rewritten file would not decode to the same samples
};
std::string CannotTag(TagError error);
inline constexpr std::string_view kTagNeedsOneInput =
    "--start と --end で指定するときは入力を1つにしてください";
inline constexpr std::string_view kTagNeedsBoth = "--start と --end は一緒に指定してください";
inline constexpr std::string_view kSmplOnlyForWave =
    "--smpl は wave ファイルの出力にだけ使えます（ほかの形式には --tags を使ってください）";
inline constexpr std::string_view kNoSoundFiles = "音声ファイルが見つかりませんでした";

// The batch's texts.
inline constexpr std::string_view kOutputIsInput = "出力先が入力ファイルと同じです";
inline constexpr std::string_view kOutputTaken = "出力先が他の入力の出力と重なります";

// The caption of the window that shows the join.
inline constexpr std::string_view kJoinWindowCaption = "継ぎ目";

// The window's texts for the formats besides the wave file, and for writing the loop into a file.

// The caption while a compressed file is decoded.
inline constexpr std::string_view kLoadingCaption = "読み込み中…";
// The open dialog's entry after the wave files': every sound file that opens.
inline constexpr std::string_view kReadableFilesFilter = "読み込める音声ファイル";
// The save dialog's entry for one format written, by the format's name ("FLAC", "MP3").
std::string FormatFilesFilter(std::string_view format);
// The keys of the join's window and of writing the loop into the file, as the bar's tooltip
// lists them.
inline constexpr std::string_view kJoinKey = "Ctrl+G：継ぎ目の図を表示する";
inline constexpr std::string_view kTagKey = "Ctrl+T：ループをファイルに書き込む";
// What Ctrl+T asks before it writes: the file, and the loop in frames and as m:ss.mmm.
std::string TagLoopQuestion(std::string_view path, std::int32_t loopStart,
                            std::string_view startTime, std::int32_t loopEnd,
                            std::string_view endTime);
inline constexpr std::string_view kTagLoopButton = "書き込む";
inline constexpr std::string_view kCancelButton = "キャンセル";
// Ctrl+T on a file that has changed since it was opened: the loop shown may not fit it.
inline constexpr std::string_view kTagFileChanged =
    "ループタグを書けません：開いた後でファイルが変更されています。開き直してください";

// The report page's captions.
inline constexpr std::string_view kPageTitle = "Rundelt：ループと継ぎ目";
inline constexpr std::string_view kPageLoop = "ループ";
inline constexpr std::string_view kPageLength = "長さ";
inline constexpr std::string_view kPageSeam = "継ぎ目";
inline constexpr std::string_view kPageOthers = "ほかの候補";
inline constexpr std::string_view kPageKind = "種類";
inline constexpr std::string_view kPageJoin =
    "ループ終了前の 30 ms とループ開始からの 30 ms（縦線が継ぎ目、薄い線は終了後の本来の音）";
inline constexpr std::string_view kPageOverview = "全体の音量とループの範囲";
inline constexpr std::string_view kPageListen = "継ぎ目の前後2秒ずつ";

enum class BatchStatus { Looped, NoLoop, Refused, WriteFailed };
inline constexpr std::size_t kBatchStatuses = 4;
std::string_view BatchStatusText(BatchStatus status);
// The status as the CSV report writes it and the page's style names it: "looped", "no-loop",
// "refused", "write-failed".
std::string_view BatchStatusName(BatchStatus status);

// The kind as find's fourth field, the CSV report's column and the page's style name it:
// "passes", "file-end".
std::string_view LoopKindName(LoopKind kind);
// The kind in words, for the page: "繰り返しから", "ファイル末尾まで".
std::string_view LoopKindText(LoopKind kind);
// The line after the summary: how many of the loops found were of each kind.
std::string BatchKindsLine(const std::size_t (&counts)[kLoopKinds]);

// "DONE/FILES STATUS PATH", and "：MESSAGE" where there is one: a file finished, off a terminal.
std::string BatchFinishedLine(std::size_t done, std::size_t files, BatchStatus status,
                              std::string_view path, std::string_view message);
// The line redrawn on a terminal: files and minutes done, the time taken and left, then the
// file at work (added by the caller).
std::string BatchProgressLine(std::size_t done, std::size_t files, double minutesDone,
                              double minutes, std::string_view elapsed, std::string_view remaining);
// The summary: the count of each status, and of the files left unfinished where there are any.
std::string BatchSummary(const std::size_t (&counts)[kBatchStatuses], std::size_t unfinished);

}  // namespace wave
