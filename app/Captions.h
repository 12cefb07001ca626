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
inline constexpr char kDumpPaneName[] = "ダンプ";
inline constexpr char kStatusPaneName[] = "ステータス";
// %1 is the error number, %2 its description.
inline constexpr char kFatalError[] = "実行時エラー '%1':\n\n%2";

} // namespace Captions
