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
// The peer's failure, in place of its description: %1 is the host, %2 the description. The
// number beside it is getaddrinfo's, or else the system's.
inline constexpr char kPeerLookupFailed[]
    = "ホスト \"%1\" の名前解決に失敗しました（getaddrinfo のエラー番号）: %2";
inline constexpr char kPeerUnreachable[]
    = "ホスト \"%1\" の送り先アドレスが得られません（システムのエラー番号）: %2";

} // namespace Captions
