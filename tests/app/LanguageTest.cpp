// Every text of the program in both languages, from the message catalogue:
// Japanese as written, English for any other locale; texts composed from a
// pattern keep their parts; a console run under an English locale prints no
// Japanese, and under a Japanese one the lines it always printed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "CliTestSupport.h"
#include "app/texts/AppTexts.h"
#include "app/texts/Language.h"

namespace plume {
namespace {

// The texts of the catalogue's template, as the sources mark them.
std::vector<std::string> CatalogueTexts() {
    std::ifstream in(std::filesystem::path(PLUME_SOURCE_DIR) / "po" / "plume.pot");
    std::vector<std::string> texts;
    std::string line, text;
    bool inText = false;
    const auto unquote = [](const std::string& quoted) {
        std::string out;
        for (std::size_t i = quoted.find('"') + 1; i + 1 < quoted.size(); ++i) {
            if (quoted[i] != '\\') {
                out += quoted[i];
                continue;
            }
            const char c = quoted[++i];
            out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
        }
        return out;
    };
    while (std::getline(in, line)) {
        if (line.starts_with("msgid ")) {
            text = unquote(line);
            inText = true;
        } else if (inText && line.starts_with("\"")) {
            text += unquote(line);
        } else if (inText) {
            if (!text.empty()) texts.push_back(text);
            inText = false;
        }
    }
    return texts;
}

bool HasJapanese(const std::string& text) {
    // Every Japanese character is three bytes in UTF-8, lead bytes E3 to E9
    // (kana, CJK ideographs) or EF (full-width forms).
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 0xE3 && byte <= 0xE9) || byte == 0xEF) return true;
    }
    return false;
}

std::size_t Placeholders(const std::string& text) {
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find("%s", at)) != std::string::npos; at += 2) ++count;
    return count;
}

class LanguageTest : public ::testing::Test {
  protected:
    void SetUp() override { InitLanguage(); }
    void TearDown() override { SetLanguage("ja"); }
};

TEST_F(LanguageTest, EveryTextInBothLanguages) {
    const std::vector<std::string> texts = CatalogueTexts();
    ASSERT_GT(texts.size(), 100u);
    const std::string part = "photos/IMG_0001.JPG";
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        // A composed text: its parts are a path each.
        std::string composed = text;
        for (std::size_t at; (at = composed.find("%s")) != std::string::npos;)
            composed.replace(at, 2, part);
        SetLanguage("ja");
        const std::string japanese = Localize(composed);
        if (HasJapanese(text)) {
            EXPECT_EQ(japanese, composed);
        }
        SetLanguage("en");
        const std::string english = Localize(composed);
        EXPECT_FALSE(HasJapanese(english)) << english;
        EXPECT_EQ(Placeholders(Localize(text)), Placeholders(text));
        std::size_t parts = 0;
        for (std::size_t at = 0; (at = english.find(part, at)) != std::string::npos;
             at += part.size())
            ++parts;
        EXPECT_EQ(parts, Placeholders(text)) << english;
        // Any other language without a catalogue is English.
        SetLanguage("de_DE.UTF-8");
        EXPECT_EQ(Localize(composed), english);
    }
}

// The C library's rules: LANGUAGE first, then LC_ALL, LC_MESSAGES, LANG; the
// C and POSIX locales are English whatever LANGUAGE says.
TEST_F(LanguageTest, TheLanguageFollowsTheEnvironment) {
    struct TCase {
        const char* Language;
        const char* All;
        const char* Messages;
        const char* Lang;
        bool Japanese;
    } const cases[] = {
        {"", "", "", "ja_JP.UTF-8", true},
        {"", "", "ja_JP.UTF-8", "C", true},
        {"", "C.UTF-8", "ja_JP.UTF-8", "", false},
        {"ja", "C", "", "", false},
        {"ja", "", "", "POSIX", false},
        {"de:ja", "de_DE.UTF-8", "", "", true},
        {"en:ja", "ja_JP.UTF-8", "", "", false},
        {"", "", "", "", false},
        {"", "de_DE.UTF-8", "", "", false},
    };
    const auto set = [](const char* name, const char* value) {
        if (*value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    };
    for (const TCase& c : cases) {
        set("LANGUAGE", c.Language);
        set("LC_ALL", c.All);
        set("LC_MESSAGES", c.Messages);
        set("LANG", c.Lang);
        InitLanguage();
        EXPECT_EQ(JapaneseChosen(), c.Japanese)
            << c.Language << " | " << c.All << " | " << c.Messages << " | " << c.Lang;
        EXPECT_EQ(Localize(kStatusCompleted) == kStatusCompleted, c.Japanese);
    }
    for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) ::unsetenv(name);
}

// A folder with a photo of each kind: turned, upright, refused, damaged.
class CliLanguageTest : public test::CliTest {};

TEST_F(CliLanguageTest, AnEnglishLocaleGetsNoJapaneseAndAJapaneseOneItsOwnTexts) {
    AddPhoto("a.jpg", 6);
    AddPhoto("b.jpg", 1);
    test::WriteBytes(test::PathIn(dir_, "photos/c.jpg"), test::MakePhoto(64, 48, 6, true));
    test::TBytes cut = test::MakePhoto(64, 48, 3);
    cut.resize(cut.size() / 2);
    test::WriteBytes(test::PathIn(dir_, "photos/d.jpg"), cut);
    const std::vector<std::string> args = {"--dry-run", "--save-method", "bak", "photos"};

    for (const char* english : {"C.UTF-8", "C", "POSIX", "de_DE.UTF-8", "en_US.UTF-8"}) {
        locale_ = english;
        const test::TCliRun run = Run(args);
        EXPECT_EQ(run.Status, 1) << english;
        EXPECT_FALSE(HasJapanese(run.Out + run.Err)) << english << "\n" << run.Out << run.Err;
        EXPECT_NE(run.Out.find("Turning 90° right."), std::string::npos) << run.Out;
        EXPECT_FALSE(HasJapanese(Run({"--help"}).Out)) << english;
    }
    locale_ = "ja_JP.UTF-8";
    const test::TCliRun run = Run(args);
    EXPECT_EQ(run.Out.find("( 1 / 4 ) photos/a.jpg " + std::string(kStatusRotateRight)), 0u)
        << run.Out;
    EXPECT_NE(run.Err.find(kStatusCompleted), std::string::npos);
    EXPECT_EQ(Run({"--help"}).Out.find("使い方: plume-cli"), 0u);
}

}  // namespace
}  // namespace plume
