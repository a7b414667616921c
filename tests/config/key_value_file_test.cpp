#include "config/key_value_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <vector>

#include "config/settings.h"
#include "support/temp_folder.h"

namespace gx {
namespace {

using gxtest::readFile;
using gxtest::TempFolder;
using gxtest::writeFile;

uint32_t H(const char* key) { return hashKey(key); }

std::string valueOf(const KeyValueFile& r, const char* key) {
    char buf[260] = "<untouched>";
    r.getString(H(key), buf, "<absent>", sizeof buf);
    return buf;
}

// Every value the reader hands out lies in the file exactly at its recorded offset.
void expectTrueOffsets(const KeyValueFile& r, const std::string& bytes) {
    for (const KeyValueEntry& e : r.entries()) {
        ASSERT_LE(size_t(e.fileOffset) + size_t(e.storedSize - 1), bytes.size());
        if (!e.refused) {
            EXPECT_EQ(bytes.substr(size_t(e.fileOffset), size_t(e.storedSize - 1)), e.value);
        }
    }
}

TEST(HashAndNumbers, HashIsCaseBlindAndMatchesTheKeyConstants) {
    EXPECT_EQ(H("abc"), 0xBDD5594Du);
    EXPECT_EQ(H("ABC"), 0xBDD5594Du);
    EXPECT_EQ(H(""), 0u);
    EXPECT_EQ(hashKey(nullptr), 0u);
    EXPECT_EQ(H("ImagePath"), kHashImagePath);
    EXPECT_EQ(H("ScreenWidth"), kHashScreenWidth);
    EXPECT_EQ(H("ScreenHeight"), kHashScreenHeight);
    EXPECT_EQ(H("ResourcePath"), kHashResourcePath);
    EXPECT_EQ(H("LanguageFile"), kHashLanguageFile);
    EXPECT_EQ(H("Fullscreen"), kHashFullscreen);
    EXPECT_EQ(H("Duration"), kHashDuration);
    EXPECT_EQ(H("GameSpeed"), kHashGameSpeed);
    EXPECT_EQ(H("GamePoint"), 0x23A2819Du);
    EXPECT_EQ(H("GameOver"), 0x4EC1D723u);
    EXPECT_EQ(H("RedWins"), 0x6544A3D5u);
    EXPECT_EQ(H("BlueWins"), 0xC02CC9D4u);
    EXPECT_EQ(H("Paused"), 0x590A052Du);
    // Bytes above 0x7F are widened as signed: they must not hash like their low 7 bits.
    EXPECT_NE(H("\xC1"), H("A"));
}

TEST(HashAndNumbers, AtoiRuleWithClampedOverflow) {
    EXPECT_EQ(parseInt("  42abc"), 42);
    EXPECT_EQ(parseInt("\t-5"), -5);
    EXPECT_EQ(parseInt("+7"), 7);
    EXPECT_EQ(parseInt("1 2"), 1);
    EXPECT_EQ(parseInt("abc"), 0);
    EXPECT_EQ(parseInt(""), 0);
    EXPECT_EQ(parseInt("- 5"), 0);
    EXPECT_EQ(parseInt("2147483647"), INT32_MAX);
    EXPECT_EQ(parseInt("2147483648"), INT32_MAX);
    EXPECT_EQ(parseInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(parseInt("-2147483649"), INT32_MIN);
    EXPECT_EQ(parseInt("99999999999999999999999999"), INT32_MAX);
    EXPECT_EQ(parseInt("-99999999999999999999999999"), INT32_MIN);
}

TEST(HashAndNumbers, BoolTexts) {
    EXPECT_TRUE(parseBool("TRUE"));
    EXPECT_TRUE(parseBool("true"));
    EXPECT_TRUE(parseBool("Truely"));
    EXPECT_TRUE(parseBool("1"));
    EXPECT_TRUE(parseBool(" -3"));
    EXPECT_FALSE(parseBool("yes"));
    EXPECT_FALSE(parseBool("0"));
    EXPECT_FALSE(parseBool("FALSE"));
    EXPECT_FALSE(parseBool("false1"));
    EXPECT_FALSE(parseBool(nullptr));
}

TEST(Loading, TokenRules) {
    TempFolder dir;
    const std::string bytes =
        "ImagePath = x\r\n"
        "imagepath=y\r\n"  // first occurrence wins
        "Quoted= \"a b\"\r\n"
        "Commented = 10\t// ten\r\n"
        "NoSign value\r\n"
        "NoValue =\r\n"
        "DoubleSign == 5\r\n"
        "   // only a comment\r\n"
        "// Hidden = 1\r\n"
        "Empty = \"\"\r\n"
        "Open = \"abc\r\n"
        "OpenNothing = \"\r\n"
        "Inner=\"x=y z\"\n"
        "Unquoted = a\"b c\n"
        "Tight=5\n"
        "  Indented   =   9   trailing\n"
        "Last = end";
    writeFile(dir.file("a.ini"), bytes);
    KeyValueFile r(dir.file("a.ini"));
    ASSERT_TRUE(r.load());
    EXPECT_EQ(valueOf(r, "IMAGEPATH"), "x");
    EXPECT_EQ(valueOf(r, "Quoted"), "a b");
    EXPECT_EQ(valueOf(r, "Commented"), "10");
    EXPECT_EQ(valueOf(r, "NoSign"), "<absent>");
    EXPECT_EQ(valueOf(r, "NoValue"), "<absent>");
    EXPECT_EQ(valueOf(r, "DoubleSign"), "=");
    EXPECT_EQ(valueOf(r, "Hidden"), "<absent>");
    EXPECT_EQ(valueOf(r, "Empty"), "");
    EXPECT_TRUE(r.has(H("Empty")));
    EXPECT_EQ(valueOf(r, "Open"), "abc");
    EXPECT_FALSE(r.has(H("OpenNothing")));
    EXPECT_EQ(valueOf(r, "Inner"), "x=y z");
    EXPECT_EQ(valueOf(r, "Unquoted"), "a\"b");
    EXPECT_EQ(valueOf(r, "Tight"), "5");
    EXPECT_EQ(valueOf(r, "Indented"), "9");
    EXPECT_EQ(valueOf(r, "Last"), "end");
    EXPECT_EQ(r.entryCount(), 11);
    expectTrueOffsets(r, bytes);
}

TEST(Loading, LookupsAndCapacity) {
    TempFolder dir;
    writeFile(dir.file("a.ini"), "Name = abcd\r\nNum = 12x\r\nFlag = TRUE\r\n");
    KeyValueFile r(dir.file("a.ini"));
    ASSERT_TRUE(r.load());
    char small[4] = "old";
    EXPECT_FALSE(r.getString(H("Name"), small, "dflt", 4));  // 4 characters do not fit in 4
    EXPECT_STREQ(small, "old");
    char fit[5];
    EXPECT_TRUE(r.getString(H("Name"), fit, "dflt", 5));
    EXPECT_STREQ(fit, "abcd");
    EXPECT_FALSE(r.getString(H("Missing"), fit, "dflt", 5));
    EXPECT_STREQ(fit, "dflt");
    int32_t n = -1;
    EXPECT_TRUE(r.getInt(H("num"), n, 7));
    EXPECT_EQ(n, 12);
    EXPECT_FALSE(r.getInt(H("Missing"), n, 7));
    EXPECT_EQ(n, 7);
    bool b = false;
    EXPECT_TRUE(r.getBool(H("Flag"), b, false));
    EXPECT_TRUE(b);
    EXPECT_FALSE(r.getBool(H("Missing"), b, false));
    EXPECT_FALSE(b);
}

TEST(Loading, FortyNineEntriesAtMost) {
    TempFolder dir;
    std::string bytes;
    for (int i = 1; i <= 60; ++i)
        bytes += "Key" + std::to_string(i) + " = " + std::to_string(i) + "\r\n";
    writeFile(dir.file("a.ini"), bytes);
    KeyValueFile r(dir.file("a.ini"));
    ASSERT_TRUE(r.load());
    EXPECT_EQ(r.entryCount(), 49);
    EXPECT_EQ(valueOf(r, "Key49"), "49");
    EXPECT_FALSE(r.has(H("Key50")));
}

TEST(Loading, LongLinesRefuseTheirValueOnly) {
    TempFolder dir;
    const std::string longValue(300, 'v');
    // "Edge = " is 7 columns: a value of 252 ends exactly at column 259.
    const std::string bytes = "Long = " + longValue + "\n" + "Short = 5 // " +
                              std::string(400, 'c') + "\r\n" + "Edge = " + std::string(252, 'e') +
                              "\n" + "Over = " + std::string(253, 'o') + "\n" +
                              "Far = " + std::string(300, ' ') + "7\n" + "After = 42\r\n";
    writeFile(dir.file("a.ini"), bytes);
    KeyValueFile r(dir.file("a.ini"));
    ASSERT_TRUE(r.load());
    EXPECT_TRUE(r.has(H("Long")));
    EXPECT_TRUE(r.isRefused(H("Long")));
    char buf[400] = "kept";
    EXPECT_FALSE(r.getString(H("Long"), buf, "dflt", sizeof buf));
    EXPECT_STREQ(buf, "kept");
    int32_t n = 0;
    EXPECT_FALSE(r.getInt(H("Long"), n, 300));
    EXPECT_EQ(n, 300);
    EXPECT_EQ(valueOf(r, "Short"), "5");
    EXPECT_EQ(valueOf(r, "Edge"), std::string(252, 'e'));
    EXPECT_TRUE(r.isRefused(H("Over")));
    EXPECT_TRUE(r.isRefused(H("Far")));
    EXPECT_EQ(valueOf(r, "After"), "42");
    expectTrueOffsets(r, bytes);
    EXPECT_EQ(size_t(r.entries().back().fileOffset), bytes.size() - 4);
}

TEST(Loading, OnlyRegularFilesWhereverTheyLive) {
    TempFolder dir;
    KeyValueFile missing(dir.file("missing.ini"));
    EXPECT_FALSE(missing.load());
    EXPECT_EQ(missing.problem(), "it does not exist");
    KeyValueFile folder(dir.path());
    EXPECT_FALSE(folder.load());
    EXPECT_EQ(folder.problem(), "it is a folder");
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    KeyValueFile fifo(dir.file("fifo"));
    EXPECT_FALSE(fifo.load());  // and does not hang
    EXPECT_EQ(fifo.problem(), "it is not a regular file");

    // No limit on where the file lives: a path far beyond 259 bytes loads and saves.
    std::string deep = dir.path();
    while (deep.size() < 900) deep += "/" + std::string(200, 'd');
    ASSERT_TRUE(std::filesystem::create_directories(deep));
    const std::string longPath = deep + "/settings.ini";
    writeFile(longPath, "A = 1\r\n");
    KeyValueFile r(longPath);
    ASSERT_TRUE(r.load());
    EXPECT_EQ(valueOf(r, "A"), "1");
    ASSERT_TRUE(r.setInt(H("A"), 2));
    EXPECT_TRUE(r.save());
    EXPECT_EQ(readFile(longPath), "A = 2\r\n");
}

TEST(Loading, KeysThatTakeLongValuesHoldUpTo4095Bytes) {
    TempFolder dir;
    const std::string fits(4095, 'p'), over(4096, 'q');
    const std::string bytes = "Path = \"" + fits + "\"\r\n" + "Other = \"" + std::string(300, 'o') +
                              "\"\r\n" + "Far =" + std::string(600, ' ') + "\"/x\"\r\n" +
                              "Over = \"" + over + "\"\r\n";
    writeFile(dir.file("a.ini"), bytes);
    KeyValueFile r(dir.file("a.ini"));
    for (const char* key : {"Path", "Far", "Over"}) r.allowLongValues(H(key));
    ASSERT_TRUE(r.load());
    std::vector<char> buf(4096);
    ASSERT_TRUE(r.getString(H("Path"), buf.data(), "", 4096));
    EXPECT_EQ(std::string(buf.data()), fits);
    EXPECT_TRUE(r.isRefused(H("Other")));                      // an ordinary key keeps the 259 rule
    ASSERT_TRUE(r.getString(H("Far"), buf.data(), "", 4096));  // wherever it stands
    EXPECT_STREQ(buf.data(), "/x");
    EXPECT_TRUE(r.isRefused(H("Over")));
    expectTrueOffsets(r, bytes);

    // Set and saved at that length, and read back; one byte more is refused.
    const std::string other(4095, 'n');
    EXPECT_FALSE(r.setString(H("Path"), over.c_str()));
    EXPECT_FALSE(r.setString(H("Other"), other.c_str()));
    ASSERT_TRUE(r.setString(H("Far"), other.c_str()));
    ASSERT_TRUE(r.save());
    KeyValueFile back(dir.file("a.ini"));
    back.allowLongValues(H("Far"));
    ASSERT_TRUE(back.load());
    ASSERT_TRUE(back.getString(H("Far"), buf.data(), "", 4096));
    EXPECT_EQ(std::string(buf.data()), other);
}

TEST(Loading, AtMostOneMegabyteAndNeverWrittenBack) {
    TempFolder dir;
    std::string bytes = "First = 1\r\n";
    while (bytes.size() < (1u << 20) - 3) bytes += "// padding padding padding padding\r\n";
    bytes.resize((1u << 20) - 3);
    bytes += "\nCut = 123456\r\nLater = 2\r\n";  // crosses the limit
    writeFile(dir.file("big.ini"), bytes);
    KeyValueFile r(dir.file("big.ini"));
    ASSERT_TRUE(r.load());
    EXPECT_EQ(valueOf(r, "First"), "1");
    EXPECT_FALSE(r.has(H("Cut")));  // the line the limit cuts is not read half
    EXPECT_FALSE(r.has(H("Later")));
    ASSERT_TRUE(r.setInt(H("First"), 2));
    EXPECT_FALSE(r.save());
    EXPECT_EQ(readFile(dir.file("big.ini")), bytes);
}

TEST(Setting, TextsOfTheSetters) {
    TempFolder dir;
    const std::string bytes =
        "A = 1\r\nB = 1\r\nC = 1\r\nD = x\r\nE = true\r\nF = true\r\nG = \"\"\r\n";
    writeFile(dir.file("a.ini"), bytes);
    KeyValueFile r(dir.file("a.ini"));
    ASSERT_TRUE(r.load());
    EXPECT_TRUE(r.setInt(H("A"), 0));
    EXPECT_TRUE(r.setInt(H("B"), -5));
    EXPECT_TRUE(r.setInt(H("C"), INT32_MIN));
    EXPECT_TRUE(r.setString(H("D"), "abc"));
    EXPECT_TRUE(r.setBool(H("E"), 2));
    EXPECT_TRUE(r.setBool(H("F"), 1));
    EXPECT_TRUE(r.setString(H("G"), "new text"));
    EXPECT_FALSE(r.setInt(H("Missing"), 1));
    EXPECT_EQ(r.entryCount(), 7);
    ASSERT_TRUE(r.save());
    EXPECT_EQ(readFile(dir.file("a.ini")),
              "A = 0\r\nB = -5\r\nC = -2147483648\r\nD = abc\r\nE = false\r\nF = true\r\n"
              "G = \"new text\"\r\n");
}

TEST(Setting, TextsThatWouldNotReadBackAreRefused) {
    TempFolder dir;
    const std::string bytes =
        "Q = \"quoted\"\r\nU = plain\r\nG ==x\r\nO = \"open\r\nW = " + std::string(240, ' ') +
        "x\r\n";
    writeFile(dir.file("a.ini"), bytes);
    KeyValueFile r(dir.file("a.ini"));
    ASSERT_TRUE(r.load());
    EXPECT_FALSE(r.setString(H("Q"), "a\"b"));
    EXPECT_FALSE(r.setString(H("Q"), "a\nb"));
    EXPECT_FALSE(r.setString(H("Q"), "a\rb"));
    EXPECT_FALSE(r.setString(H("Q"), std::string(260, 'q').c_str()));
    EXPECT_FALSE(r.setString(H("U"), "a b"));
    EXPECT_FALSE(r.setString(H("U"), "a\tb"));
    EXPECT_FALSE(r.setString(H("U"), "a=b"));
    EXPECT_FALSE(r.setString(H("U"), ""));
    EXPECT_EQ(valueOf(r, "G"), "=");
    EXPECT_FALSE(r.setString(H("G"), "5"));                 // would read back as "5x"
    EXPECT_FALSE(r.setString(H("O"), ""));                  // a lone quote is no value
    EXPECT_FALSE(r.setString(H("W"), "0123456789abcdef"));  // would end past column 259
    for (const KeyValueEntry& e : r.entries()) EXPECT_FALSE(e.modified);
    EXPECT_TRUE(r.setString(H("Q"), "with blank = ok"));
    EXPECT_TRUE(r.setString(H("U"), "/a/b"));
    ASSERT_TRUE(r.save());
    KeyValueFile back(dir.file("a.ini"));
    ASSERT_TRUE(back.load());
    EXPECT_EQ(valueOf(back, "Q"), "with blank = ok");
    EXPECT_EQ(valueOf(back, "U"), "/a/b");
    EXPECT_EQ(valueOf(back, "W"), "x");
}

TEST(Saving, LongerValueShiftsEveryLaterOffset) {
    TempFolder dir;
    const std::string bytes =
        "// head\r\nDuration = 130\r\nName = \"abc\"\r\nGameSpeed = 10\t// 1 to 10\r\nTail = z";
    writeFile(dir.file("a.ini"), bytes);
    KeyValueFile r(dir.file("a.ini"));
    ASSERT_TRUE(r.load());
    ASSERT_TRUE(r.setInt(H("Duration"), 1300));
    ASSERT_TRUE(r.save());
    std::string expect =
        "// head\r\nDuration = 1300\r\nName = \"abc\"\r\nGameSpeed = 10\t// 1 to 10\r\nTail = z";
    EXPECT_EQ(readFile(dir.file("a.ini")), expect);
    expectTrueOffsets(r, expect);

    // Unmodified entries moved too: a second change lands where the value is.
    ASSERT_TRUE(r.setInt(H("GameSpeed"), 7));
    ASSERT_TRUE(r.setString(H("Tail"), "end"));
    ASSERT_TRUE(r.save());
    expect =
        "// head\r\nDuration = 1300\r\nName = \"abc\"\r\nGameSpeed = 7\t// 1 to 10\r\nTail = end";
    EXPECT_EQ(readFile(dir.file("a.ini")), expect);

    ASSERT_TRUE(r.setInt(H("Duration"), 5));
    ASSERT_TRUE(r.setString(H("Name"), ""));
    ASSERT_TRUE(r.setInt(H("GameSpeed"), 10));
    ASSERT_TRUE(r.save());
    expect = "// head\r\nDuration = 5\r\nName = \"\"\r\nGameSpeed = 10\t// 1 to 10\r\nTail = end";
    EXPECT_EQ(readFile(dir.file("a.ini")), expect);
    expectTrueOffsets(r, expect);
}

// Replaces "key = old" by "key = new" in an expected text.
void replaceValue(std::string& text, const std::string& before, const std::string& after) {
    size_t at = text.find(before);
    ASSERT_NE(at, std::string::npos) << before;
    text.replace(at, before.size(), after);
}

TEST(Saving, LineFeedAndMixedFilesStayByteIdentical) {
    for (const char* ending : {"\n", "mixed"}) {
        SCOPED_TRACE(ending);
        TempFolder dir;
        bool mixed = std::strcmp(ending, "mixed") == 0;
        const char* e1 = mixed ? "\r\n" : "\n";
        const char* e2 = "\n";
        std::string expect = std::string("// settings") + e1 + e2 + "A = 1" + e1 + "Path = \"/x\"" +
                             e2 + "  B=22 // note" + e1 + "C = a\rb" + e2 + "D = 4" + e1 + "E = 5";
        writeFile(dir.file("a.ini"), expect);
        KeyValueFile r(dir.file("a.ini"));
        ASSERT_TRUE(r.load());
        EXPECT_EQ(valueOf(r, "C"), "a\rb");  // a CR inside a line is an ordinary byte
        EXPECT_EQ(valueOf(r, "D"), "4");

        ASSERT_TRUE(r.setInt(H("A"), 1000));
        ASSERT_TRUE(r.save());
        replaceValue(expect, "A = 1", "A = 1000");
        EXPECT_EQ(readFile(dir.file("a.ini")), expect);

        ASSERT_TRUE(r.setString(H("Path"), "/pictures/long folder"));
        ASSERT_TRUE(r.setInt(H("E"), 55));
        ASSERT_TRUE(r.save());
        replaceValue(expect, "\"/x\"", "\"/pictures/long folder\"");
        replaceValue(expect, "E = 5", "E = 55");
        EXPECT_EQ(readFile(dir.file("a.ini")), expect);

        ASSERT_TRUE(r.setInt(H("B"), 3));
        ASSERT_TRUE(r.setInt(H("D"), -4));
        ASSERT_TRUE(r.save());
        replaceValue(expect, "B=22", "B=3");
        replaceValue(expect, "D = 4", "D = -4");
        EXPECT_EQ(readFile(dir.file("a.ini")), expect);
        expectTrueOffsets(r, expect);
    }
}

TEST(Saving, FileChangedBehindOurBackIsNeverWrittenAgain) {
    TempFolder dir;
    const std::string ours = "GameSpeed = 10\r\nDuration = 130\r\n";
    writeFile(dir.file("a.ini"), ours);
    KeyValueFile r(dir.file("a.ini"));
    ASSERT_TRUE(r.load());
    ASSERT_TRUE(r.setInt(H("GameSpeed"), 9));
    ASSERT_TRUE(r.save());
    const std::string saved = readFile(dir.file("a.ini"));

    // Differs only in letter case: the same case-blind hash, still someone else's edit.
    std::string edited = saved;
    replaceValue(edited, "GameSpeed", "gamespeed");
    writeFile(dir.file("a.ini"), edited);
    ASSERT_TRUE(r.setInt(H("GameSpeed"), 8));
    EXPECT_FALSE(r.save());
    EXPECT_EQ(readFile(dir.file("a.ini")), edited);
    EXPECT_TRUE(r.savingRefused());

    // Putting our bytes back does not turn the refusal into consent.
    writeFile(dir.file("a.ini"), saved);
    EXPECT_FALSE(r.save());
    EXPECT_EQ(readFile(dir.file("a.ini")), saved);
}

TEST(Saving, ChangedOrRemovedBeforeTheFirstSave) {
    TempFolder dir;
    writeFile(dir.file("a.ini"), "A = 1\r\n");
    KeyValueFile r(dir.file("a.ini"));
    ASSERT_TRUE(r.load());
    writeFile(dir.file("a.ini"), "A = 2\r\n");  // edited while the dialog was open
    ASSERT_TRUE(r.setInt(H("A"), 3));
    EXPECT_FALSE(r.save());
    EXPECT_EQ(r.problem(), "it was changed by another program since it was read");
    EXPECT_EQ(readFile(dir.file("a.ini")), "A = 2\r\n");

    KeyValueFile gone(dir.file("b.ini"));
    writeFile(dir.file("b.ini"), "A = 1\r\n");
    ASSERT_TRUE(gone.load());
    ASSERT_EQ(::unlink(dir.file("b.ini").c_str()), 0);
    ASSERT_TRUE(gone.setInt(H("A"), 3));
    EXPECT_FALSE(gone.save());
    EXPECT_EQ(gone.problem(), "it was removed since it was read");
    EXPECT_FALSE(gxtest::fileExists(dir.file("b.ini")));
}

TEST(Saving, FailedWriteKeepsTheOldFileAndCanBeRetried) {
    TempFolder dir;
    writeFile(dir.file("a.ini"), "A = 1\r\nB = 2\r\n");
    KeyValueFile r(dir.file("a.ini"));
    ASSERT_TRUE(r.load());
    ASSERT_TRUE(r.setInt(H("A"), 100));
    setFileWritesFailForTesting(true);
    EXPECT_FALSE(r.save());
    setFileWritesFailForTesting(false);
    EXPECT_EQ(r.problem(), "Permission denied");  // the system's reason, passed on
    EXPECT_EQ(readFile(dir.file("a.ini")), "A = 1\r\nB = 2\r\n");
    EXPECT_FALSE(r.savingRefused());
    // A file nobody may write is left alone, also by root.
    ASSERT_EQ(::chmod(dir.file("a.ini").c_str(), 0444), 0);
    EXPECT_FALSE(r.save());
    EXPECT_EQ(r.problem(), "the file is read-only");
    EXPECT_EQ(readFile(dir.file("a.ini")), "A = 1\r\nB = 2\r\n");
    ASSERT_EQ(::chmod(dir.file("a.ini").c_str(), 0644), 0);
    ASSERT_TRUE(r.setInt(H("B"), 200));
    ASSERT_TRUE(r.save());
    EXPECT_EQ(readFile(dir.file("a.ini")), "A = 100\r\nB = 200\r\n");
    // Nothing but the file itself is left in the folder.
    int files = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir.path())) (void)entry, ++files;
    EXPECT_EQ(files, 1);
}

TEST(Saving, ThroughASymbolicLinkKeepsTheLink) {
    TempFolder dir;
    writeFile(dir.file("real.ini"), "A = 1\r\n");
    ::chmod(dir.file("real.ini").c_str(), 0640);
    ASSERT_EQ(::symlink("real.ini", dir.file("link.ini").c_str()), 0);
    KeyValueFile r(dir.file("link.ini"));
    ASSERT_TRUE(r.load());
    ASSERT_TRUE(r.setInt(H("A"), 2));
    ASSERT_TRUE(r.save());
    EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.ini")));
    EXPECT_EQ(readFile(dir.file("real.ini")), "A = 2\r\n");
    struct stat st;
    ASSERT_EQ(::stat(dir.file("real.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace gx
