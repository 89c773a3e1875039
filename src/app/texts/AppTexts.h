// Every text of the run, the saving and the console that the user sees, and
// the small helpers that build the composed ones.
#pragma once

#include <cstddef>
#include <string>

#include "BitStreamFile/MessageEvent.h"

namespace plume {

inline constexpr const char* kAppTitle =
    Msg("JPEGファイル回転プログラム - plume - 自動処理バージョン");
inline constexpr const char* kVersionText = "Ver. 1.16";

// Btn_Cancel during and after a run.
inline constexpr const char* kCaptionCancel = Msg("キャンセル");
inline constexpr const char* kCaptionClose = Msg("閉じる");

// Lbl_Status during a run, one per rotation mode.
inline constexpr const char* kStatusAnalysing = Msg("解析中...");
inline constexpr const char* kStatusRotateRight = Msg("右に90度回転処理を行います。");
inline constexpr const char* kStatusRotateLeft = Msg("左に90度回転処理を行います。");
inline constexpr const char* kStatusRotate180 = Msg("180度回転処理を行います。");
inline constexpr const char* kStatusNothingToDo = Msg("処理は必要ないようです。");
// The mirror modes: mirrored orientations when the run fixes them, or the
// console's --mode. A transpose is a turn 90 degrees right mirrored left to
// right, a transverse mirror the same turn mirrored top to bottom.
inline constexpr const char* kStatusFlipHorizontal = Msg("左右反転処理を行います。");
inline constexpr const char* kStatusFlipVertical = Msg("上下反転処理を行います。");
inline constexpr const char* kStatusTranspose = Msg("右回転と左右反転を行います。");
inline constexpr const char* kStatusTransverse = Msg("右回転と上下反転を行います。");
// A photo that the turn would leave with the encoder's padding at its top or
// left edge, left as it is (edge policy skip).
inline constexpr const char* kStatusSkippedPartialEdge = Msg("端が欠けるため回転しません。");

// Lbl_Status at run end; unlike the mode texts they carry no full stop.
inline constexpr const char* kStatusCompleted = Msg("処理を完了しました");
inline constexpr const char* kStatusInterrupted = Msg("処理を中断しました");

// Last line of the error box of an engine error, after a carriage return.
inline constexpr const char* kCannotProcessLine = Msg("処理を行うことが出来ません。");
inline constexpr const char* kCaptionWarning = Msg("警告");
inline constexpr const char* kCaptionError = Msg("エラー");
inline constexpr const char* kButtonYes = Msg("はい(&Y)");

// File errors; %s is the path.
inline constexpr const char* kFileCannotOpen = Msg("ファイル %s は開けません");
inline constexpr const char* kFileCannotCreate = Msg("ファイル %s を作成できません");
// kFileCannotCreate, and on a second line what the system gave as the cause
// (errno), where it is one a user can act on.
std::string CannotCreateText(const std::string& path, int error);
// A photo that the methods writing over it may not replace: its owner has no
// write permission.
inline constexpr const char* kReadOnlyPhoto =
    Msg("ファイル %s は読み取り専用のため、上書きしませんでした。");
// The input could not be kept (copy, folder or recycle bin), so it was not replaced.
inline constexpr const char* kKeepStepFailed =
    Msg("元ファイル %s を保存できなかったため、上書きしませんでした。");
// Second line after kKeepStepFailed: the kept copy's name is taken by a
// different file, which stays.
inline constexpr const char* kKeptCopyNameTaken =
    Msg("%s には内容の異なるファイルがすでにあります。");
// The input was changed by another program after it was read, so it was not replaced.
inline constexpr const char* kInputChanged =
    Msg("ファイル %s は読み込んだ後に変更されたため、上書きしませんでした。");

// Saving refused before anything was written; %s is the path concerned.
inline constexpr const char* kNotRegularFile =
    Msg("%s は通常のファイルではないため、置き換えませんでした。");
inline constexpr const char* kUntrustedLink =
    Msg("%s はほかのユーザーのシンボリックリンクのため、その先には書き込みませんでした。");
inline constexpr const char* kUntrustedFolder = Msg(
    "フォルダ %s はシンボリックリンクか、ほかのユーザーのフォルダのため、書き込みませんでした。");
// Two paths: the output, then the photo.
inline constexpr const char* kOutputIsInput =
    Msg("出力先 %s は元ファイル %s と同じ場所を指しているため、書き込みませんでした。");
// A photo refused for its size, or one whose handling ran out of memory; the
// run goes on with the next file.
inline constexpr const char* kFileTooLarge =
    Msg("ファイル %s は 1 GiB を超えるため、処理しません。");
inline constexpr const char* kOutOfMemory =
    Msg("メモリが足りないため、ファイル %s を処理できませんでした。");
// A settings file that no settings file can be: its values are not read
// (and it is not written over).
inline constexpr const char* kSettingsTooLarge =
    Msg("設定ファイル %s は 1 MiB を超えるため、読み込みませんでした。");

// The console's line of a file that failed, once its outcome is known; %s
// is the first line of the reason (the error shown for it).
inline constexpr const char* kLineRefused = Msg("回転できません（%s）");
inline constexpr const char* kLineFailed = Msg("処理できませんでした（%s）");

// The console's lines beside the run.
// Before the first photo, when the save method that the window stored
// replaces photos and the command line chose none; %s is the method's item
// in the window's list.
inline constexpr const char* kNoteStoredSaveMethod =
    Msg("保存方法は保存された設定の「%s」です。ほかの方法は --save-method で選べます。");
inline constexpr const char* kNoJpegFiles = Msg("処理するJPEGファイルがありません。");
// A file named by itself that is neither a ".jpg" name nor a JPEG's content.
inline constexpr const char* kSkippedNotJpeg = Msg("%s はJPEGファイルではないため、処理しません。");
// A sub-folder that a folder search passes over: plume itself writes into
// folders of these names.
inline constexpr const char* kSkippedOwnFolder =
    Msg("%s は plume "
        "が書き込むフォルダのため、検索しませんでした（フォルダ名を指定すると処理します）。");
// After a file whose EXIF segment does not follow SOI, when one later in the
// header asks for a turn.
inline constexpr const char* kNoteExifAnywhere =
    Msg("EXIFセグメントがSOIの直後にないため、回転情報を読み取りませんでした。"
        "--exif-anywhere を指定すると読み取ります。");
// The last line of the refusal of a file that --any-jpeg would turn.
inline constexpr const char* kNoteAnyJpegOption =
    Msg("--any-jpeg を指定すると、この画像も回転します。");
// --dry-run: after the line of a file that the run would store, where its
// result would go and what would become of the photo (%s is a path); and the
// note after the run-end text.
inline constexpr const char* kDryRunOutput = Msg("保存先: %s");
inline constexpr const char* kDryRunKeptCopy = Msg("元ファイルの保存先: %s");
inline constexpr const char* kDryRunToTrash = Msg("元ファイルはゴミ箱に移動します。");
inline constexpr const char* kDryRunNotKept = Msg("元ファイルは保存しません。");
inline constexpr const char* kDryRunNothingWritten =
    Msg("--dry-run のため、ファイルは何も書き込んでいません。");

// Items of cbo_SaveMethod, in combo order (codes 0, 1, 2, 4, 3).
inline constexpr const char* kSaveMethodItems[] = {
    Msg("resultフォルダに保存します。"),
    Msg("上書きします。元ファイルはゴミ箱に移動します。"),
    Msg("上書きします。元ファイルは拡張子を変えて保存します。"),
    Msg("上書きします。元ファイルはoriginalフォルダに保存します。"),
    Msg("上書きします。元ファイルは保存しません。"),
};

// pattern with its one "%s" replaced by path.
std::string FormatPathText(const char* pattern, const std::string& path);
// pattern with its two "%s" replaced by first and second, in order.
std::string FormatPathsText(const char* pattern, const std::string& first,
                            const std::string& second);
// Lbl_FileCounter: "( 3 / 12 )".
std::string FileCounterText(std::size_t number, std::size_t count);
// The file name part of a path: the text after its last "/".
std::string FileNamePart(const std::string& path);
// The folder part of a path: up to and including its last "/", or empty.
std::string FolderPart(const std::string& path);

}  // namespace plume
