// The window's two font families: a Japanese proportional gothic for the
// form and its controls, and Verdana (or its stand-in) for the title labels.
#pragma once

#include <QFont>
#include <QString>

namespace plume::gui {

// The first installed family of the Japanese list, else any installed
// Japanese sans-serif family, else the application's default family.
QString JapaneseFontFamily();
// Verdana when installed, else DejaVu Sans, else the default sans-serif.
QString LatinFontFamily();

QFont JapaneseFont(int pixels);
QFont LatinFont(int pixels);

}  // namespace plume::gui
