// SPDX-License-Identifier: MIT
#pragma once

// Every text a run says of its link, whatever front end shows it.
namespace EngineCaptions {

// %1 is the error number, %2 its description.
inline constexpr char kFatalError[] = "実行時エラー '%1':\n\n%2";
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
// %1 is which log (one of the three below), %2 its file, %3 the system's reason.
inline constexpr char kFileLogStopped[] = "%1の書き込みを停止しました（%2）: %3";
inline constexpr char kStatusLogName[] = "ステータスログ";
inline constexpr char kDumpLogName[] = "ダンプログ";
// A group as the title and the messages name it: %1 its address (and port), %2 the interface,
// as one of the two after it says.
inline constexpr char kGroup[] = "グループ %1（%2）";
inline constexpr char kInterface[] = "インターフェース %1";
inline constexpr char kDefaultInterface[] = "既定のインターフェース";
// As kGroup, for a source-specific join: %3 is the one sender it hears.
inline constexpr char kSourceGroup[] = "グループ %1（%2、送信元 %3）";
// Added to a failure to join a group or to send to it: %1 is the group as kGroup names it.
inline constexpr char kGroupRefused[] = "%1を使えません。";
inline constexpr char kCaptureName[] = "キャプチャ";

} // namespace EngineCaptions
