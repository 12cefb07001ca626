// SPDX-License-Identifier: MIT
#pragma once

// Every text the window shows, in one place.
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
// %1 is which log (the two below), %2 its file, %3 the system's reason.
inline constexpr char kFileLogStopped[] = "%1の書き込みを停止しました（%2）: %3";
inline constexpr char kStatusLogName[] = "ステータスログ";
inline constexpr char kDumpLogName[] = "ダンプログ";
inline constexpr char kPeriodToolTip[] = "送信周期: %1 ms";
inline constexpr char kPeriodName[] = "送信周期 (ms)";
inline constexpr char kDumpPaneToolTip[]
    = "受信・送信したデータを 4 バイトずつ 1 行に 16 進で表示します。\n"
      "4 バイトに満たない末尾の 1〜3 バイトは表示されません。"
      "データの全長はステータス行に表示されます。";
inline constexpr char kDumpPaneName[] = "ダンプ";
inline constexpr char kStatusPaneName[] = "ステータス";
// %1 is the error number, %2 its description.
inline constexpr char kFatalError[] = "実行時エラー '%1':\n\n%2";
// The error box's own title, so that it is not taken for the window.
inline constexpr char kFatalErrorTitle[] = "Quillon2-1(UDP) エラー";
// Added to every bind failure: %1 is the address and port that were tried.
inline constexpr char kBindFailed[] = "%1 にバインドできません。";
// Follows kBindFailed when the address is taken.
inline constexpr char kAddressInUse[]
    = "別のプログラム（Quillon の別のコピーかもしれません）がこのアドレスとポートを使っています。";
// The peer's failure, in place of its description: %1 is the host, %2 the description. The
// number beside it is getaddrinfo's, or else the system's.
inline constexpr char kPeerLookupFailed[]
    = "ホスト \"%1\" の名前解決に失敗しました（getaddrinfo のエラー番号）: %2";
inline constexpr char kPeerUnreachable[]
    = "ホスト \"%1\" の送り先アドレスが得られません（システムのエラー番号）: %2";

} // namespace Captions
