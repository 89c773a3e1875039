#include "gui/GuiFonts.h"

#include <QFontDatabase>
#include <QStringList>

#include "gui/GuiTexts.h"

namespace plume::gui {

namespace {

// The first of families that the font database lists, by the name it lists
// it under. A font's family name can depend on the locale ("IPAPGothic",
// "IPA Pゴシック" under a Japanese one): hasFamily finds either through
// fontconfig's aliases, but only the listed name knows its writing systems.
template <std::size_t N>
QString FirstInstalled(const char* const (&families)[N]) {
    const QStringList listed = QFontDatabase::families();
    for (const char* family : families) {
        const QString name = QString::fromUtf8(family);
        for (const QString& candidate : listed)
            if (candidate.compare(name, Qt::CaseInsensitive) == 0) return candidate;
    }
    return {};
}

bool LooksSerif(const QString& family) {
    static const QStringList kSerifMarks = {QStringLiteral("Mincho"), QStringLiteral("明朝"),
                                            QStringLiteral("Serif"), QStringLiteral("Mono")};
    for (const QString& mark : kSerifMarks) {
        if (family.contains(mark, Qt::CaseInsensitive)) return true;
    }
    return false;
}

QString AnyJapaneseSans() {
    for (const QString& family : QFontDatabase::families(QFontDatabase::Japanese)) {
        if (!LooksSerif(family)) return family;
    }
    return {};
}

}  // namespace

QString JapaneseFontFamily() {
    static const QString family = [] {
        QString name = FirstInstalled(kJapaneseFontFamilies);
        if (name.isEmpty()) name = AnyJapaneseSans();
        if (name.isEmpty()) name = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
        return name;
    }();
    return family;
}

QString LatinFontFamily() {
    static const QString family = [] {
        QString name = FirstInstalled(kLatinFontFamilies);
        if (name.isEmpty()) name = QStringLiteral("sans-serif");
        return name;
    }();
    return family;
}

QFont JapaneseFont(int pixels) {
    QFont font(JapaneseFontFamily());
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    return font;
}

QFont LatinFont(int pixels) {
    QFont font(LatinFontFamily());
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixels);
    return font;
}

}  // namespace plume::gui
