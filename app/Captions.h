// SPDX-License-Identifier: MIT
#pragma once

// Every text the window itself shows, in one place; what a run says of its link is in
// engine/EngineCaptions.h.
namespace Captions {

inline constexpr char kWindow[] = "Quillon2-1(UDP)";
inline constexpr char kSend[] = "送信";
inline constexpr char kStop[] = "停止";
inline constexpr char kClear[] = "表示初期化";
inline constexpr char kDump[] = "ダンプする";
inline constexpr char kFileMenu[] = "ファイル";
inline constexpr char kExit[] = "終了";
inline constexpr char kSaveStatusLog[] = "ステータスログを保存...";
inline constexpr char kSaveDumpLog[] = "ダンプログを保存...";
inline constexpr char kCopyStatistics[] = "統計をコピー";
inline constexpr char kViewMenu[] = "表示";
inline constexpr char kGraph[] = "グラフ";
// The graph window's title: %1 is the main window's.
inline constexpr char kGraphTitle[] = "%1 グラフ";
inline constexpr char kSaveFilter[] = "ログ (*.log *.txt);;すべてのファイル (*)";
inline constexpr char kStatusLogFileName[] = "quillon-status.log";
inline constexpr char kDumpLogFileName[] = "quillon-dump.log";
// %1 is the file, %2 the step that failed (one of the three below), %3 the system's reason.
inline constexpr char kSaveFailed[] = "%1 に保存できませんでした。%2: %3";
inline constexpr char kSaveStepOpen[] = "同じフォルダーに一時ファイルを作れません";
inline constexpr char kSaveStepWrite[] = "一時ファイルに書き込めません";
inline constexpr char kSaveStepCommit[] = "一時ファイルで置き換えられません";
// The window's title when an endpoint differs from the usual ones: %1 the usual title, %2 the
// local address and port, %3 the peer.
inline constexpr char kTitleWithEndpoints[] = "%1 %2 → %3";
inline constexpr char kStatisticsName[] = "リンク統計";
inline constexpr char kPeriodToolTip[] = "送信周期: %1 ms";
inline constexpr char kPeriodName[] = "送信周期 (ms)";
inline constexpr char kDumpPaneToolTip[]
    = "受信・送信したデータを 4 バイトずつ 1 行に 16 進で表示します。\n"
      "4 バイトに満たない末尾の 1〜3 バイトは表示されません。"
      "データの全長はステータス行に表示されます。";
inline constexpr char kDumpPaneName[] = "ダンプ";
inline constexpr char kStatusPaneName[] = "ステータス";
// The error box's own title, so that it is not taken for the window.
inline constexpr char kFatalErrorTitle[] = "Quillon2-1(UDP) エラー";

} // namespace Captions
