#include "app/Settings.h"

#include <QSettings>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <limits>
#include <optional>

namespace plume {
namespace {

constexpr const char* kOrganisation = "Tidecrest";
constexpr const char* kApplication = "plume_auto";

// Value names, the same for reading and writing.
constexpr const char* kOperateAllFile = "gOperateAllFile";
constexpr const char* kSaveMethod = "gSaveMethod";
constexpr const char* kKeepTimeStampCreate = "gKeepTimeStamp_Create";
constexpr const char* kKeepTimeStampWrite = "gKeepTimeStamp_Write";
constexpr const char* kAllowBreakDCF = "gAllowBreakDCF";
constexpr const char* kShowOption = "gShowOption";
constexpr const char* kFixMirrored = "gFixMirrored";
constexpr const char* kExifAnywhere = "gExifAnywhere";
constexpr const char* kEdgePolicy = "gEdgePolicy";

QSettings OpenStore() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, kOrganisation, kApplication);
}

// The stored number, when the value exists and is a 32-bit integer. Text
// stores hand back numbers as text, so a text that reads as an integer counts.
std::optional<std::int32_t> ReadInteger(const QSettings& store, const char* name) {
    const QVariant value = store.value(name);
    if (!value.isValid()) return std::nullopt;
    const int type = value.typeId();
    if (type != QMetaType::QString && type != QMetaType::Int && type != QMetaType::UInt &&
        type != QMetaType::LongLong && type != QMetaType::ULongLong)
        return std::nullopt;
    bool ok = false;
    const qlonglong number = value.toString().trimmed().toLongLong(&ok);
    if (!ok || number < std::numeric_limits<std::int32_t>::min() ||
        number > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(number);
}

void ReadBoolean(const QSettings& store, const char* name, bool& target) {
    if (const auto number = ReadInteger(store, name)) target = *number != 0;
}

bool ValidEdgePolicy(int code) {
    return code >= 0 && code < kEdgePolicyCount;
}

}  // namespace

TSettings LoadSettings() {
    const QSettings store = OpenStore();
    TSettings settings;
    ReadBoolean(store, kOperateAllFile, settings.gOperateAllFile);
    if (const auto code = ReadInteger(store, kSaveMethod)) {
        // Through the combo mapping: an unknown code keeps the default item.
        settings.gSaveMethod =
            GetSaveMethod(SetSaveMethod(*code, SetSaveMethod(settings.gSaveMethod, 0)));
    }
    ReadBoolean(store, kKeepTimeStampCreate, settings.gKeepTimeStamp_Create);
    ReadBoolean(store, kKeepTimeStampWrite, settings.gKeepTimeStamp_Write);
    ReadBoolean(store, kAllowBreakDCF, settings.gAllowBreakDCF);
    ReadBoolean(store, kShowOption, settings.gShowOption);
    ReadBoolean(store, kFixMirrored, settings.gFixMirrored);
    ReadBoolean(store, kExifAnywhere, settings.gExifAnywhere);
    if (const auto code = ReadInteger(store, kEdgePolicy); code && ValidEdgePolicy(*code))
        settings.gEdgePolicy = *code;
    return settings;
}

bool SaveSettings(const TSettings& settings) {
    QSettings store = OpenStore();
    store.setValue(kOperateAllFile, settings.gOperateAllFile ? 1 : 0);
    store.setValue(kSaveMethod, GetSaveMethod(SetSaveMethod(settings.gSaveMethod, 0)));
    store.setValue(kKeepTimeStampCreate, settings.gKeepTimeStamp_Create ? 1 : 0);
    store.setValue(kKeepTimeStampWrite, settings.gKeepTimeStamp_Write ? 1 : 0);
    store.setValue(kAllowBreakDCF, settings.gAllowBreakDCF ? 1 : 0);
    store.setValue(kShowOption, settings.gShowOption ? 1 : 0);
    store.setValue(kFixMirrored, settings.gFixMirrored ? 1 : 0);
    store.setValue(kExifAnywhere, settings.gExifAnywhere ? 1 : 0);
    store.setValue(kEdgePolicy,
                   ValidEdgePolicy(settings.gEdgePolicy) ? settings.gEdgePolicy : epMove);
    store.sync();
    return store.status() == QSettings::NoError;
}

void ApplyRunSettings(const TSettings& settings, TRunOptions& options) {
    options.ExifAnywhere = settings.gExifAnywhere;
    options.FixMirrored = settings.gFixMirrored;
    options.EdgePolicy = settings.gEdgePolicy;
}

}  // namespace plume
