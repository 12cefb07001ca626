// SPDX-License-Identifier: MIT
#pragma once

// The texts of the 表示 menu and of the windows it opens.
namespace ViewCaptions {

inline constexpr char kStatusLogWindow[] = "ステータスログ";
inline constexpr char kDumpLogWindow[] = "ダンプログ";
inline constexpr char kDatagramList[] = "データグラム一覧";
// A window's title: %1 is what it shows, %2 the main window's title.
inline constexpr char kWindowTitle[] = "%1 - %2";
inline constexpr char kSaveLog[] = "保存...";
inline constexpr char kClose[] = "閉じる";

inline constexpr char kSaveCapture[] = "キャプチャを保存...";
inline constexpr char kCaptureFilter[] = "pcap キャプチャ (*.pcap);;すべてのファイル (*)";
inline constexpr char kCaptureFileName[] = "quillon.pcap";

// The list's columns, in order.
inline constexpr const char *kColumns[]
    = { "番号", "時刻", "方向", "ローカル", "リモート", "サイズ", "カウンタ" };
inline constexpr char kSent[] = "送信";
inline constexpr char kReceived[] = "受信";
inline constexpr char kTimeToolTip[] = "%1 (この PC の時計)";
inline constexpr char kCounterToolTip[] = "試験パターンのデータグラムのカウンタ";
inline constexpr char kDirectionFilter[] = "方向:";
inline constexpr char kEitherDirection[] = "すべて";
inline constexpr char kRemoteFilter[] = "リモート:";
inline constexpr char kRemotePlaceholder[] = "アドレス[:ポート]";
inline constexpr char kRemoteFilterToolTip[]
    = "このアドレス (とポート) のデータグラムだけを表示します。\n"
      "例: 127.0.0.1、127.0.0.1:20319、[::1]:20319";
inline constexpr char kBadRemoteFilter[] = "アドレスとして読めません";
inline constexpr char kFollow[] = "最新を表示";
inline constexpr char kFollowToolTip[] = "新しいデータグラムが届くたびに末尾を表示します。\n"
                                         "スクロールするか行を選ぶと止まります。";
// The budget row: %1 the datagrams held, %2 the budget in MiB.
inline constexpr char kHeld[] = "直近 %1 件を保持しています (メモリ上限 %2 MiB)。";
// Follows kHeld once any were let go: %1 how many.
inline constexpr char kLetGo[] = "上限を超えた古い %1 件は破棄しました。";
// Follows them while a filter is on: %1 the rows shown.
inline constexpr char kShown[] = "表示中 %1 件。";
inline constexpr char kBytesName[] = "データグラムの全バイト";
inline constexpr char kListName[] = "データグラム一覧";

} // namespace ViewCaptions
