// SPDX-License-Identifier: GPL-3.0-or-later
#include "wave/user_texts.h"

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

}  // namespace wave
