// Every text the engine reports through OnMessage.
#pragma once

#include "BitStreamFile/MessageEvent.h"

namespace plume {

// Refusals and warnings of the header pass (ValidateJpeg).
inline constexpr const char* kMsgNoSoi = Msg("JPEGファイルの開始のヘッダ($FFD8)を認識できません");
inline constexpr const char* kMsgNotYCbCr = Msg("この画像はYCbCr色空間の情報でないようです。");
// An unknown marker; %s is its four hexadecimal digits.
inline constexpr const char* kMsgUnknownHeader = Msg("ヘッダ($%s)を認識できませんでした。");
inline constexpr const char* kMsgPartialMcu = Msg(
    "画像のサイズがMCUの単位になっていません。回転処理を行うと、画像の端が正しく処理されません");

// Refusals of the rotate-and-write pass (RotateJpeg).
inline constexpr const char* kMsgFatalNoSoi =
    Msg("致命的エラー : JPEGファイルの開始のヘッダ($FFD8)を認識できません");
inline constexpr const char* kMsgFatalUnknownHeader =
    Msg("致命的エラー : ヘッダ($%s)を認識できません");

// Scan data that does not decode. The two lines are joined by a carriage return.
inline constexpr const char* kMsgHuffmanBlock =
    Msg("ハフマンブロックが正しく読み出せませんでした。\r処理を終了します");

// Headers outside what the engine handles; both passes refuse them before
// anything is allocated from their values.
inline constexpr const char* kMsgComponentIdOutOfRange =
    Msg("成分IDが3を超える画像には対応していません。");
inline constexpr const char* kMsgComponentIdTwice =
    Msg("同じ成分IDが2回現れる画像には対応していません。");
inline constexpr const char* kMsgNoComponents = Msg("成分数が0の画像には対応していません。");
inline constexpr const char* kMsgBadSampling =
    Msg("サンプリング係数が0または4を超える画像には対応していません。");
inline constexpr const char* kMsgHuffmanTableId =
    Msg("ハフマンテーブルの種類または番号が1を超える画像には対応していません。");
inline constexpr const char* kMsgQuantTable16Bit =
    Msg("16ビット精度の量子化テーブルには対応していません。");
inline constexpr const char* kMsgQuantTableId =
    Msg("量子化テーブルの番号が3を超える画像には対応していません。");
inline constexpr const char* kMsgPrecision = Msg("8ビット以外の精度の画像には対応していません。");
inline constexpr const char* kMsgDhtLength =
    Msg("ハフマンテーブルの大きさがセグメントの長さと一致しません。");
inline constexpr const char* kMsgHuffmanCounts =
    Msg("ハフマンテーブルの符号数が正しくありません。");
inline constexpr const char* kMsgSegmentLength = Msg("セグメントの長さが正しくありません。");
inline constexpr const char* kMsgSosBeforeSof =
    Msg("フレームヘッダ(SOF0)の前にスキャンヘッダ(SOS)があります。");
inline constexpr const char* kMsgNotOneInterleavedScan =
    Msg("全成分を成分ID順に含む1つのスキャン以外には対応していません。");
inline constexpr const char* kMsgZeroSize = Msg("幅または高さが0の画像には対応していません。");
inline constexpr const char* kMsgTooLarge = Msg("画像が大きすぎるため処理できません。");
inline constexpr const char* kMsgSecondFrame =
    Msg("フレームヘッダ(SOF0)が2つ以上ある画像には対応していません。");
inline constexpr const char* kMsgDhtTooLarge =
    Msg("書き換えたハフマンテーブルが1つのセグメントに収まりません。");

// Refusals with AnyJpeg on: the kinds of JPEG that a turn of the quantised
// blocks cannot take, named in words.
inline constexpr const char* kMsgArithmeticCoding = Msg("算術符号化のJPEGには対応していません。");
inline constexpr const char* kMsgLosslessFrame =
    Msg("ロスレス（可逆圧縮）のJPEGには対応していません。");
inline constexpr const char* kMsgHierarchicalFrame =
    Msg("階層型（ハイアラーキカル）のJPEGには対応していません。");
inline constexpr const char* kMsgTooManyComponents =
    Msg("5つ以上の成分を持つ画像には対応していません。");
// Scan headers and their order, with AnyJpeg on.
inline constexpr const char* kMsgBadScanHeader = Msg("スキャンヘッダの内容が正しくありません。");
inline constexpr const char* kMsgBadProgression =
    Msg("スキャンの順序が正しくありません（同じ係数の同じビットを2回、または順序を飛ばして含んでい"
        "ます）。");
inline constexpr const char* kMsgTablesBetweenScans =
    Msg("スキャンの間で量子化テーブルを定義し直す画像には対応していません。");
inline constexpr const char* kMsgBadAfterScan =
    Msg("スキャンの後に、マーカー以外のデータがあります。");
// Progressive scan data that does not decode.
inline constexpr const char* kMsgRunPastBand =
    Msg("ゼロの連続がスキャンの周波数帯域を超えています。");
inline constexpr const char* kMsgAcValueOutOfRange =
    Msg("AC係数の値が16ビットの範囲を超えています。");

// Scan contents that the output cannot describe.
inline constexpr const char* kMsgDcSizeOutOfRange =
    Msg("DC係数の大きさが規格の範囲を超えています。");
inline constexpr const char* kMsgDcValueOutOfRange =
    Msg("DC係数の値が16ビットの範囲を超えています。");
inline constexpr const char* kMsgSymbolWithoutCode =
    Msg("出力に必要なハフマン符号がハフマンテーブルに定義されていません。");
// A coefficient or DC difference of the output beyond the size categories
// of 8-bit samples, where the output makes its own tables.
inline constexpr const char* kMsgOutputValueOutOfRange =
    Msg("出力する係数の大きさが8ビット精度のJPEGの範囲を超えています。");

// An Ultra HDR file whose gain map (listed in the primary's XMP container
// directory) would no longer lie under the primary or be found after the turn.
inline constexpr const char* kMsgGainMapNotTurned =
    Msg("HDRのゲインマップ画像を主画像と同じように回転できないため処理できません。");
inline constexpr const char* kMsgGainMapLength =
    Msg("XMPの余白が足りず、HDRのゲインマップ画像の新しい長さを書き込めないため処理できません。");

}  // namespace plume
