#include "AppTestSupport.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "fixtures/JpegEncoder.h"
#include "fixtures/JpegSegments.h"

namespace plume::test {
namespace {

// APP1 "Exif" with a big-endian TIFF whose IFD0 holds one SHORT Orientation
// and no next IFD (EXIF 2.3, 4.5.4; TIFF 6.0, section 2).
constexpr std::size_t kOrientationValueOffset = 2 + 2 + 2 + 6 + 8 + 2 + 8;
TBytes OrientationSegment(int orientation) {
    const std::uint8_t value = static_cast<std::uint8_t>(orientation);
    return {0xFF, 0xE1, 0x00, 0x22, 'E',  'x',  'i',  'f',  0,    0,  //
            'M',  'M',  0x00, 0x2A, 0x00, 0x00, 0x00, 0x08,           //
            0x00, 0x01,                                               // one entry
            0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, value,
            0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
}

}  // namespace

TBytes MakePhoto(int width, int height, int orientation, bool progressive) {
    fixtures::TEncodeOptions options;
    options.Size(width, height).Sampling(fixtures::TSampling::k420);
    options.writeJfif = false;
    options.progressive = progressive;
    const TBytes jpeg = fixtures::EncodeJpeg(options);
    return orientation == 0 ? jpeg : WithOrientation(jpeg, orientation);
}

TBytes WithOrientation(TBytes jpeg, int orientation) {
    const TBytes exif = OrientationSegment(orientation);
    jpeg.insert(jpeg.begin() + 2, exif.begin(), exif.end());
    return jpeg;
}

std::pair<int, int> JpegSize(const TBytes& jpeg) {
    const auto frame = fixtures::ParseFrameHeader(jpeg);
    return frame ? std::pair<int, int>{frame->width, frame->height} : std::pair<int, int>{0, 0};
}

int PhotoOrientation(const TBytes& jpeg) {
    if (jpeg.size() < kOrientationValueOffset + 2 || jpeg[3] != 0xE1) return 0;
    return jpeg[kOrientationValueOffset] * 256 + jpeg[kOrientationValueOffset + 1];
}

timespec ModificationTime(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) throw std::runtime_error("cannot stat " + path);
    return info.st_mtim;
}

void SetModificationTime(const std::string& path, timespec time) {
    const timespec times[2] = {{0, UTIME_OMIT}, time};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("cannot touch " + path);
}

timespec OldTime() {
    return timespec{1262347445, 123456789};
}  // 2010-01-01 12:04:05.123456789 UTC

bool SameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int RunAsUser(uid_t user, const std::function<int()>& body) {
    // Nothing may leave a child but its exit: the test framework would go on
    // with the next tests in it.
    const auto guarded = [&body] {
        try {
            return body();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
        } catch (...) {
        }
        return kUnprivilegedThrew;
    };
    if (::geteuid() != 0) return guarded();
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        // No supplementary group of the superuser's may grant access either.
        if (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0)
            ::_exit(125);
        ::_exit(guarded());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 126;
}

int RunUnprivileged(const std::function<int()>& body) {
    return RunAsUser(kNobody, body);
}

void OpenToEveryone(const std::filesystem::path& root) {
    using std::filesystem::perms;
    constexpr perms kFileAccess = perms::owner_read | perms::owner_write | perms::group_read |
                                  perms::group_write | perms::others_read | perms::others_write;
    std::filesystem::permissions(root, perms::all, std::filesystem::perm_options::add);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        std::filesystem::permissions(entry.path(), entry.is_directory() ? perms::all : kFileAccess,
                                     std::filesystem::perm_options::add);
}

namespace {

std::optional<std::string> Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void SetEnvironment(const char* name, const std::optional<std::string>& value) {
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

}  // namespace

TFakeHome::TFakeHome(const std::string& home, const std::string& dataHome)
    : oldHome_(Environment("HOME")), oldDataHome_(Environment("XDG_DATA_HOME")) {
    SetEnvironment("HOME", home);
    SetEnvironment("XDG_DATA_HOME",
                   dataHome.empty() ? std::nullopt : std::optional<std::string>(dataHome));
}

TFakeHome::~TFakeHome() {
    SetEnvironment("HOME", oldHome_);
    SetEnvironment("XDG_DATA_HOME", oldDataHome_);
}

void TRecordingView::ProcessMessages() {
    Log.push_back("pump");
    ++Pumps;
    if (OnPump) OnPump(Pumps);
}

std::vector<std::string> TRecordingView::Lines(const std::string& prefix) const {
    std::vector<std::string> lines;
    for (const std::string& line : Log)
        if (line.rfind(prefix, 0) == 0) lines.push_back(line.substr(prefix.size()));
    return lines;
}

std::string TRecordingView::Last(const std::string& prefix) const {
    const std::vector<std::string> lines = Lines(prefix);
    return lines.empty() ? std::string() : lines.back();
}

}  // namespace plume::test
