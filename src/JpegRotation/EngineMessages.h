// Every text the engine reports through OnMessage.
#pragma once

namespace plume {

// Refusals and warnings of the header pass (ValidateJpeg).
inline constexpr const char* kMsgNoSoi = "JPEGファイルの開始のヘッダ($FFD8)を認識できません";
inline constexpr const char* kMsgNotYCbCr = "この画像はYCbCr色空間の情報でないようです。";
inline constexpr const char* kMsgUnknownHeaderPrefix = "ヘッダ($";
inline constexpr const char* kMsgUnknownHeaderSuffix = ")を認識できませんでした。";
inline constexpr const char* kMsgPartialMcu =
    "画像のサイズがMCUの単位になっていません。回転処理を行うと、画像の端が正しく処理されません";

// Refusals of the rotate-and-write pass (RotateJpeg).
inline constexpr const char* kMsgFatalNoSoi =
    "致命的エラー : JPEGファイルの開始のヘッダ($FFD8)を認識できません";
inline constexpr const char* kMsgFatalUnknownHeaderPrefix = "致命的エラー : ヘッダ($";
inline constexpr const char* kMsgFatalUnknownHeaderSuffix = ")を認識できません";

// Scan data that does not decode. The two lines are joined by a carriage return.
inline constexpr const char* kMsgHuffmanBlock =
    "ハフマンブロックが正しく読み出せませんでした。\r処理を終了します";

// Headers outside what the engine handles; both passes refuse them before
// anything is allocated from their values.
inline constexpr const char* kMsgComponentIdOutOfRange =
    "成分IDが3を超える画像には対応していません。";
inline constexpr const char* kMsgComponentIdTwice =
    "同じ成分IDが2回現れる画像には対応していません。";
inline constexpr const char* kMsgNoComponents = "成分数が0の画像には対応していません。";
inline constexpr const char* kMsgBadSampling =
    "サンプリング係数が0または4を超える画像には対応していません。";
inline constexpr const char* kMsgHuffmanTableId =
    "ハフマンテーブルの種類または番号が1を超える画像には対応していません。";
inline constexpr const char* kMsgQuantTable16Bit =
    "16ビット精度の量子化テーブルには対応していません。";
inline constexpr const char* kMsgQuantTableId =
    "量子化テーブルの番号が3を超える画像には対応していません。";
inline constexpr const char* kMsgPrecision = "8ビット以外の精度の画像には対応していません。";
inline constexpr const char* kMsgDhtLength =
    "ハフマンテーブルの大きさがセグメントの長さと一致しません。";
inline constexpr const char* kMsgHuffmanCounts = "ハフマンテーブルの符号数が正しくありません。";
inline constexpr const char* kMsgSegmentLength = "セグメントの長さが正しくありません。";
inline constexpr const char* kMsgSosBeforeSof =
    "フレームヘッダ(SOF0)の前にスキャンヘッダ(SOS)があります。";
inline constexpr const char* kMsgNotOneInterleavedScan =
    "全成分を成分ID順に含む1つのスキャン以外には対応していません。";
inline constexpr const char* kMsgZeroSize = "幅または高さが0の画像には対応していません。";
inline constexpr const char* kMsgTooLarge = "画像が大きすぎるため処理できません。";
inline constexpr const char* kMsgSecondFrame =
    "フレームヘッダ(SOF0)が2つ以上ある画像には対応していません。";
inline constexpr const char* kMsgDhtTooLarge =
    "書き換えたハフマンテーブルが1つのセグメントに収まりません。";

// Scan contents that the output cannot describe.
inline constexpr const char* kMsgDcSizeOutOfRange = "DC係数の大きさが規格の範囲を超えています。";
inline constexpr const char* kMsgDcValueOutOfRange = "DC係数の値が16ビットの範囲を超えています。";
inline constexpr const char* kMsgSymbolWithoutCode =
    "出力に必要なハフマン符号がハフマンテーブルに定義されていません。";

// An Ultra HDR file whose gain map (listed in the primary's XMP container
// directory) would no longer lie under the primary or be found after the turn.
inline constexpr const char* kMsgGainMapNotTurned =
    "HDRのゲインマップ画像を主画像と同じように回転できないため処理できません。";
inline constexpr const char* kMsgGainMapLength =
    "XMPの余白が足りず、HDRのゲインマップ画像の新しい長さを書き込めないため処理できません。";

}  // namespace plume
