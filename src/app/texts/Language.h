// The language of every text a user sees. The texts are written in the code
// as the program has always shown them (Japanese, and English for the
// console's help and usage errors) and looked up in the "plume" message
// catalogue (GNU gettext, the C library's own) for any other language:
// Japanese where the locale's language is Japanese, else that language's
// catalogue where there is one, else English.
//
// The language follows the environment as gettext reads it: LANGUAGE (a
// list, tried in order), then the locale in LC_ALL, LC_MESSAGES or LANG; the
// C and POSIX locales give English whatever LANGUAGE says. The locale need
// not be installed: only its name counts. Nothing else of the locale is
// used, so outputs never depend on it.
#pragma once

#include <string>

namespace plume {

// Chooses the language from the environment and binds the catalogue: the
// one installed beside the program (../share/locale from its folder), else
// the one of the build tree. Called once at start, before any thread (and
// in the window after QApplication, which sets the locale).
void InitLanguage();

// Chooses the language by a code as LANGUAGE would give it ("ja", "en",
// "de_DE.UTF-8", "de:ja"); for tests, after InitLanguage.
void SetLanguage(const std::string& code);

// Whether the texts are shown in Japanese, as they are written.
bool JapaneseChosen();

// text in the user's language. A text composed from a pattern with "%s"
// parts (FormatPathText, the engine's messages) is recognised by its
// pattern, the pattern translated and each part put in its place, itself
// translated where it is a text of the program; a text of several lines
// (a carriage return or a newline between them) is translated line by
// line. Anything else comes back as it is.
std::string Localize(const std::string& text);

}  // namespace plume
