#include "app/texts/AppTexts.h"

#include <cerrno>

namespace plume {

std::string FormatPathText(const char* pattern, const std::string& path) {
    std::string text(pattern);
    const std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, path);
    return text;
}

std::string CannotCreateText(const std::string& path, int error) {
    std::string text = FormatPathText(kFileCannotCreate, path);
    const char* cause = nullptr;
    switch (error) {
        case EACCES:
        case EPERM:
            cause = Msg("書き込む権限がありません。");
            break;
        case ENOSPC:
            cause = Msg("ディスクの空きが足りません。");
            break;
        case EDQUOT:
            cause = Msg("ディスクの使用量が上限に達しています。");
            break;
        case EROFS:
            cause = Msg("読み取り専用のファイルシステムです。");
            break;
        case EFBIG:
            cause = Msg("ファイルが大きすぎます。");
            break;
        case ENOENT:
        case ENOTDIR:
            cause = Msg("フォルダがありません。");
            break;
        case EIO:
            cause = Msg("ディスクの読み書きに失敗しました。");
            break;
        default:
            break;
    }
    return cause != nullptr ? text + "\r" + cause : text;
}

std::string FormatPathsText(const char* pattern, const std::string& first,
                            const std::string& second) {
    const std::string text(pattern);
    const std::size_t at = text.find("%s");
    if (at == std::string::npos) return text;
    return text.substr(0, at) + first + FormatPathText(text.c_str() + at + 2, second);
}

std::string FileCounterText(std::size_t number, std::size_t count) {
    return "( " + std::to_string(number) + " / " + std::to_string(count) + " )";
}

std::string FileNamePart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderPart(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace plume
