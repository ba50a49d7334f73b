// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/user_texts.h"

#include <cstdio>

namespace wave {

std::string_view UserMessage(WaveError error) {
    switch (error) {
        case WaveError::None: return "";
        case WaveError::CannotOpen: return "ファイルを開けませんでした";
        case WaveError::FileTooLarge: return "ファイルが大きすぎます";
        case WaveError::BadRiffHeader: return "不正なRIFFヘッダです";
        case WaveError::BadChunkSize: return "不正なチャンクサイズです";
        case WaveError::NotPcm: return "非圧縮形式以外は未対応です";
        case WaveError::BadFormat: return "不正なフォーマットです";
        case WaveError::NotWave: return "不正なwaveファイルです";
        case WaveError::TooShort:
            return "ファイルが短すぎます。5秒以上のファイルを選択してください";
        case WaveError::OutOfMemory: return "メモリが不足しています";
    }
    return "";
}

std::string_view SaveReason(SaveError error) {
    switch (error) {
        case SaveError::InconsistentFormat: return "フォーマットが不整合です";
        case SaveError::BadLoop: return "ループ範囲が不正です";
        case SaveError::BadCounts: return "繰り返し回数またはフェードの長さが不正です";
        case SaveError::SamplerNeedsPass: return "ループ情報にはリピート回数が1以上必要です";
        case SaveError::NoSound: return "音声が読み込まれていません";
        case SaveError::OutOfMemory: return "メモリが不足しています";
        case SaveError::WriteFailed: return "書き込みに失敗しました";
        case SaveError::NoSpace: return "ディスクの空き容量が足りません";
        case SaveError::NotPermitted: return "書き込みが許可されていません";
        case SaveError::NoFolder: return "保存先のフォルダがありません";
        case SaveError::NotRegularFile: return "通常のファイルではありません";
        case SaveError::TooLarge: return "ファイルが大きすぎます";
        case SaveError::NameTooLong: return "ファイル名が長すぎます";
        case SaveError::Stopped: return "中断しました";
        case SaveError::IoError: return "入出力エラーが起きました";
        case SaveError::Busy: return "ファイルが使用中です";
        case SaveError::TooManyLinks: return "シンボリックリンクが多すぎます";
        case SaveError::NoName: return "保存先のファイル名がありません";
    }
    return "";
}

std::string SaveFailed(SaveError error) { return SaveFailed(SaveReason(error)); }

std::string SavedButNotSure(std::string_view reason) {
    return "保存しましたが、ディスクに確実に書き込めたか確かめられませんでした：" +
           std::string(reason);
}

std::string WithFileLeft(std::string message, std::string_view path) {
    return message + "（一時ファイルを消せませんでした：" + std::string(path) + "）";
}

std::string SaveFailed(std::string_view reason) {
    std::string out(kSaveFailed);
    out += "：";
    out += reason;
    return out;
}

std::string_view UserMessage(PreviewError error) {
    switch (error) {
        case PreviewError::None: return "";
        case PreviewError::InconsistentFormat:
            return "プレビューできません：フォーマットが不整合です";
        case PreviewError::BufferSize: return "プレビューできません：バッファの大きさが違います";
        case PreviewError::BadLoop: return "プレビューできません：ループ範囲が不正です";
    }
    return "";
}

std::string DeviceOpenFailed(std::uint32_t code) {
    return "waveOutOpen失敗：" + std::to_string(code);
}

const std::string_view kCommandUsage =
    "使い方：\n"
    "  rundelt-cli info 入力 [--verbose]\n"
    "  rundelt-cli save 入力 出力 --start 開始 --end 終了 [--repeat 回数] [--fade 秒数] "
    "[--smpl]\n"
    "                  [--quality 品質] [--tags] [--verbose]\n"
    "  rundelt-cli preview 入力 出力.wav --start 開始 --end 終了 [--verbose]\n"
    "  rundelt-cli find 入力 [--top 件数] [--near 開始 終了 [--radius 秒数]]\n"
    "                  [--min-length 秒数] [--max-length 秒数] [--verbose]\n"
    "  rundelt-cli batch 入力|フォルダ... --out 出力フォルダ [--repeat 回数 | --length 秒数]\n"
    "                  [--fade 秒数] [--smpl] [--jobs 数] [--report ファイル] [--dry-run]\n"
    "                  [--min-length 秒数] [--max-length 秒数]\n"
    "                  [--format 形式] [--quality 品質] [--tags] [--verbose]\n"
    "  rundelt-cli tag 入力|フォルダ... [--start 開始 --end 終了] [--dry-run] [--jobs 数]\n"
    "                  [--report ファイル] [--min-length 秒数] [--max-length 秒数] [--verbose]\n"
    "  rundelt-cli --help\n"
    "  rundelt-cli --version\n"
    "\n"
    "  入力は wave（8・16ビット PCM）、FLAC、Ogg Vorbis、Opus、MP3、AIFF のファイルです。\n"
    "  find、batch、tag は 24・32ビットと浮動小数点の wave も読みます。位置はデコード後の\n"
    "  フレーム番号で、MP3 はエンコーダの遅延と詰め物を除き、Opus は 48kHz で数えます。\n"
    "  途中で切れたファイルや、ヘッダと音声が食い違う壊れたファイルは読み込みません。\n"
    "  --verbose は、各ファイルを読んで気づいたこと（ヘッダにない長さ、拒否の理由など）を\n"
    "  表示します\n"
    "  info     ファイルの情報を表示します\n"
    "  save     ループしたファイルを書き出します（既定：--repeat 2 --fade 5）\n"
    "           --smpl で最初のループ1回分を smpl チャンクに記録します\n"
    "           出力の形式は拡張子で決まります（.flac .ogg .opus .mp3、ほかは wave）。\n"
    "           --quality は Ogg・Opus・MP3 の品質 0〜10（既定 6）、--tags は出力にループの\n"
    "           タグ（wave は smpl チャンク）を付けます\n"
    "  preview  ループのつなぎ目の前後2秒ずつ、4秒のファイルを書き出します\n"
    "  find     ループの候補を良い順に1行に1つ「開始 終了 つなぎ目の品質(dB) 種類」で表示します\n"
    "           （種類は passes：繰り返しから、file-end：ファイルの終わりまで）\n"
    "           （既定：--top 5）。--near は指定のループを各点 --radius 秒（既定 0.5、10 まで）\n"
    "           の範囲で合わせ直し、その結果を最初に表示します。表示する候補はすべて各点がその\n"
    "           範囲内のものです。--min-length と --max-length はループの長さを秒で限ります\n"
    "  batch    ファイルとフォルダ（中の音声ファイルを再帰的に）それぞれのループを探し、save "
    "と同じ\n"
    "           ファイルを --out の下に同じ構成で書き出します。--length は、フェードを含めて\n"
    "           その秒数以上になる最少のループ回数（1 以上）です。--jobs は同時に処理する\n"
    "           ファイル数（既定：コア数）、--report は結果の CSV（.html なら継ぎ目の図と\n"
    "           試聴を載せたページ）、--dry-run は探すだけです。\n"
    "           --format は出力の形式 wav、flac、ogg、opus、mp3（既定 wav）です\n"
    "  tag      ファイルとフォルダそれぞれのループを探し（入力が1つなら --start と --end でも\n"
    "           指定でき）、ファイル自身にループのタグを書き込みます。Ogg・Opus・FLAC は\n"
    "           LOOPSTART と LOOPLENGTH のコメント、MP3 は同名の ID3v2.4 TXXX、wave は smpl\n"
    "           チャンクです。音声は1サンプルも変わりません\n"
    "\n"
    "開始と終了はフレーム番号で、0 ≤ 開始、開始 + 2秒 ≤ 終了 ≤ 最後のフレーム です。\n"
    "find、tag、batch では終了をフレーム数にして、ファイルの終わりまでをループにできます。\n"
    "終了コード：0 成功、1 読み込みか書き込みの失敗かループ候補なし、2 引数かループ範囲の誤り、\n"
    "           130 batch を Ctrl-C で中断\n";

std::string UnknownCommand(std::string_view name) {
    return "不明なコマンドです：" + std::string(name);
}
std::string UnknownOption(std::string_view option) {
    return "不明なオプションです：" + std::string(option);
}
std::string ExtraArgument(std::string_view argument) {
    return "余分な引数です：" + std::string(argument);
}
std::string NotForThisCommand(std::string_view option) {
    return "このコマンドでは使えないオプションです：" + std::string(option);
}
std::string MissingValue(std::string_view option) {
    return "値がありません：" + std::string(option);
}
std::string MissingOption(std::string_view option) {
    return "必要なオプションがありません：" + std::string(option);
}

namespace {

std::string_view RangeText(ValueRange range) {
    switch (range) {
        case ValueRange::Int32: return "-2147483648 から 2147483647 の整数";
        case ValueRange::Count: return "0 以上の整数";
        case ValueRange::Top: return "1 以上の整数";
        case ValueRange::Radius: return "0 から 10 の秒数";
        case ValueRange::Length: return "0 以上の秒数";
        case ValueRange::ExactLength: return "0 以上の秒数、小数は9桁まで";
        case ValueRange::Jobs: return "1 以上の整数";
        case ValueRange::Path: return "空でないパス";
        case ValueRange::Format: return "wav、flac、ogg、opus、mp3 のいずれか";
        case ValueRange::Quality: return "0 から 10 の整数";
        case ValueRange::None: return "";
    }
    return "";
}

}  // namespace

std::string BadValue(std::string_view option, std::string_view value, ValueRange range) {
    return "値が不正です：" + std::string(option) + " " + std::string(value) + "（" +
           std::string(RangeText(range)) + "）";
}

std::string SamplerNeedsPassArgument(std::string_view option, std::int32_t repeatCount) {
    return std::string(option) + " にはリピート回数 1 以上が必要です：--repeat " +
           std::to_string(repeatCount);
}

std::string LoopOutsideRules(std::int64_t halfWindowFrames, std::int32_t lastFrame,
                             std::int32_t loopStart, std::int32_t loopEnd) {
    return std::string(SaveReason(SaveError::BadLoop)) + "：0 ≤ 開始、開始 + " +
           std::to_string(halfWindowFrames) + " ≤ 終了 ≤ " + std::to_string(lastFrame) +
           " にしてください（開始 " + std::to_string(loopStart) + "、終了 " +
           std::to_string(loopEnd) + "）";
}

std::string_view BatchStatusText(BatchStatus status) {
    switch (status) {
        case BatchStatus::Looped: return "ループ作成";
        case BatchStatus::NoLoop: return "ループなし";
        case BatchStatus::Refused: return "拒否";
        case BatchStatus::WriteFailed: return "書き込み失敗";
    }
    return "";
}

std::string_view BatchStatusName(BatchStatus status) {
    switch (status) {
        case BatchStatus::Looped: return "looped";
        case BatchStatus::NoLoop: return "no-loop";
        case BatchStatus::Refused: return "refused";
        case BatchStatus::WriteFailed: return "write-failed";
    }
    return "";
}

std::string_view LoopKindName(LoopKind kind) {
    switch (kind) {
        case LoopKind::Passes: return "passes";
        case LoopKind::FileEnd: return "file-end";
    }
    return "";
}

std::string_view LoopKindText(LoopKind kind) {
    switch (kind) {
        case LoopKind::Passes: return "繰り返しから";
        case LoopKind::FileEnd: return "ファイル末尾まで";
    }
    return "";
}

std::string BatchKindsLine(const std::size_t (&counts)[kLoopKinds]) {
    return "ループの種類：繰り返しから " + std::to_string(counts[0]) + "、ファイル末尾まで " +
           std::to_string(counts[1]);
}

std::string BatchFinishedLine(std::size_t done, std::size_t files, BatchStatus status,
                              std::string_view path, std::string_view message) {
    std::string line = std::to_string(done) + "/" + std::to_string(files) + " " +
                       std::string(BatchStatusText(status)) + " " + std::string(path);
    if (!message.empty()) line += "：" + std::string(message);
    return line;
}

std::string BatchProgressLine(std::size_t done, std::size_t files, double minutesDone,
                              double minutes, std::string_view elapsed,
                              std::string_view remaining) {
    char counts[160];
    std::snprintf(counts, sizeof counts, "%zu/%zu ファイル　%.1f/%.1f 分　経過 %.*s　残り %.*s　",
                  done, files, minutesDone, minutes, static_cast<int>(elapsed.size()),
                  elapsed.data(), static_cast<int>(remaining.size()), remaining.data());
    return counts;
}

std::string BatchSummary(const std::size_t (&counts)[kBatchStatuses], std::size_t unfinished) {
    std::string summary;
    for (std::size_t k = 0; k < kBatchStatuses; ++k) {
        if (k > 0) summary += "、";
        summary += std::string(BatchStatusText(static_cast<BatchStatus>(k))) + " " +
                   std::to_string(counts[k]);
    }
    if (unfinished > 0) summary += "（中断：未処理 " + std::to_string(unfinished) + "）";
    return summary;
}

std::string DecodeStopped(std::string_view path, std::int64_t frame) {
    return "デコードに失敗しました：" + std::string(path) + "（フレーム " + std::to_string(frame) +
           " で停止）";
}

std::string UnreadableSound(std::string_view formatName) {
    return std::string(formatName) +
           " ファイルを読めません（壊れているか、対応していない種類のファイルです）";
}

std::string LengthDisagrees(std::string_view path, std::int64_t decodedFrames,
                            std::int64_t statedFrames) {
    return "長さが一致しません：" + std::string(path) + "（デコードすると " +
           std::to_string(decodedFrames) + " フレーム、ファイルの記載では " +
           std::to_string(statedFrames) + " フレーム）";
}

std::string ChecksumMismatch(std::string_view path) {
    return "デコードした音がファイルの MD5 と一致しません：" + std::string(path);
}

std::string SeveralOggStreams(std::string_view path) {
    return "複数のストリームを含む Ogg ファイルには対応していません：" + std::string(path);
}

std::string ReadNoteText(std::string_view path, const ReadNoteValues& note) {
    const std::string file(path);
    const std::string a = std::to_string(note.first);
    const std::string b = std::to_string(note.second);
    switch (note.note) {
        case ReadNote::FlacLengthNotGiven:
            return file + "：FLAC のヘッダに長さがないため、最後までデコードしました（" + a +
                   " フレーム）";
        case ReadNote::FlacLengthBelowFrames:
            return file + "：FLAC のヘッダの長さ " + a + " フレームより多い " + b +
                   " フレームがあり、MD5 が一致したので、すべて読みました";
        case ReadNote::FlacNoChecksum:
            return file + "：FLAC に MD5 がないため、各フレームの CRC だけで確かめました（" + a +
                   " フレーム）";
        case ReadNote::FlacFrameDamaged:
            return file + "：FLAC のフレームが壊れています（フレーム " + a + "）";
        case ReadNote::FlacFrameOutOfPlace:
            return file + "：FLAC のフレームの順序が合いません（フレーム " + a +
                   " の位置にフレーム " + b + "）";
        case ReadNote::FlacFrameMissing:
            return file + "：FLAC のフレームが抜けています（フレーム " + a + "）";
        case ReadNote::Mp3NoLengthHeader:
            return file +
                   "：MP3 に長さを示すヘッダ（Xing・Info・VBRI）がないため、すべてのフレームを"
                   "先頭から読みました（" +
                   a + " フレーム）";
        case ReadNote::Mp3FramesDisagree:
            return file + "：MP3 のヘッダでは " + a + " 個の MPEG フレームですが、ファイルには " +
                   b + " 個あります";
        case ReadNote::Id3v2CoversAudio:
            return file + "：ID3v2 タグの大きさ（" + a +
                   " バイト）が音声のフレームまで含んでいるため、バイト " + b + " から読みました";
        case ReadNote::OggStrayStartFlag:
            return file + "：Ogg のページ " + a +
                   " にストリーム開始の印が付いていますが、無視しました";
        case ReadNote::OggTrailingBytes:
            return file + "：Ogg の最後のページの後の " + a +
                   " バイトは Ogg のページではないため、無視しました";
        case ReadNote::OggDamagedPage:
            return file + "：Ogg のページが壊れています（バイト " + a + "）";
        case ReadNote::OggPageMissing:
            return file + "：Ogg のページ " + a + " の前のページが抜けています";
        case ReadNote::OggNoEndOfStream:
            return file + "：Ogg ストリームに終わりの印がなく、ページ " + a + " で切れています";
        case ReadNote::OggLastPositionWrong:
            return file + "：Ogg の最後のページの位置 " + a + " が、パケットの長さから求めた " + b +
                   " と合いません";
        case ReadNote::AiffDataCut:
            return file + "：AIFF の COMM チャンクでは " + a + " フレームですが、音声データは " +
                   b + " フレームしかありません";
        case ReadNote::WaveDataCut:
            return file +
                   "：wave ファイルの data "
                   "チャンクの大きさがファイルを超えています（音声データは " +
                   a + " フレームしかありません）";
        case ReadNote::DecoderComplained:
            return file + "：デコーダがデータの誤りを報告しました（フレーム " + a + " 付近）";
    }
    return file;
}

std::string TooManyChannels(int channels) {
    return "チャンネル数 " + std::to_string(channels) +
           " の音は扱えません（モノラルかステレオのみ）";
}

std::string ResolutionWouldBeLost(int bits, std::string_view output) {
    const std::string depth = bits == 0 ? "浮動小数点" : std::to_string(bits) + "ビット";
    return std::string(kSaveFailed) + "：" + depth + "の音を " + std::string(output) +
           " に書き出すと精度が落ちます（24ビットまでは flac に書き出せます）";
}

std::string UnknownOutputFormat(std::string_view path) {
    return std::string(kSaveFailed) + "：出力の形式が拡張子からわかりません：" + std::string(path) +
           "（.wav .flac .ogg .opus .mp3）";
}

std::string OpusRateRefused(std::int32_t rate) {
    return std::string(kSaveFailed) + "：Opus は " + std::to_string(rate) +
           "Hz に対応していません（8000、12000、16000、24000、48000Hz のみ）";
}

std::string Mp3RateRefused(std::int32_t rate) {
    return std::string(kSaveFailed) + "：MP3 は " + std::to_string(rate) +
           "Hz に対応していません（8000、11025、12000、16000、22050、24000、32000、44100、"
           "48000Hz のみ）";
}

std::string OutputRateRefused(std::string_view output, std::int32_t rate) {
    return std::string(kSaveFailed) + "：" + std::string(output) + " は " + std::to_string(rate) +
           "Hz の音を書き出せません";
}

std::string EncodeFailed() { return std::string(kSaveFailed) + "：エンコードに失敗しました"; }

std::string CannotTag(TagError error) {
    switch (error) {
        case TagError::UnreadableOgg: return "ループタグを書けません：Ogg ストリームを読めません";
        case TagError::NoCommentPacket:
            return "ループタグを書けません：コメントのパケットがありません";
        case TagError::BrokenComments: return "ループタグを書けません：コメントが壊れています";
        case TagError::OggAudioInHeaderPages:
            return "ループタグを書けません：Ogg のヘッダのページに音声が入っています";
        case TagError::SeveralOggStreams:
            return "ループタグを書けません：Ogg ファイルに複数のストリームがあります";
        case TagError::UnreadableMp3: return "ループタグを書けません：MP3 を読めません";
        case TagError::Mp3NotWritten: return "ループタグを書けません：MP3 を書けません";
        case TagError::UnreadableFlac: return "ループタグを書けません：FLAC を読めません";
        case TagError::BrokenFlacMetadata:
            return "ループタグを書けません：FLAC のメタデータが壊れています";
        case TagError::CommentsTooLarge: return "ループタグを書けません：コメントが大きすぎます";
        case TagError::UnreadableWave: return "ループタグを書けません：wave ファイルを読めません";
        case TagError::BadLoop: return "ループタグを書けません：ループ範囲が不正です";
        case TagError::BrokenWaveChunks:
            return "ループタグを書けません：wave ファイルのチャンクが壊れています";
        case TagError::FormatCannotCarry:
            return "ループタグを書けません：この形式にはループタグを書けません";
        case TagError::SoundWouldChange:
            return "ループタグを書けません：書き換えたファイルの音が元と一致しないため、"
                   "ファイルはそのままにしました";
    }
    return "";
}

std::string FormatFilesFilter(std::string_view format) { return std::string(format) + "ファイル"; }

std::string TagLoopQuestion(std::string_view path, std::int32_t loopStart,
                            std::string_view startTime, std::int32_t loopEnd,
                            std::string_view endTime) {
    return "このファイルにループを書き込みます。音声とほかのタグはそのままです。\n" +
           std::string(path) + "\n\n開始：" + std::to_string(loopStart) + "（" +
           std::string(startTime) + "）\n終了：" + std::to_string(loopEnd) + "（" +
           std::string(endTime) + "）";
}

}  // namespace wave
