// Built twice: support_version_utils_test carries the version block (kelvo_embed_version), and
// support_version_utils_no_block_test is the same program without it.
#include "support/versionUtils.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <string>
#include <vector>

#include "platform/ExecutableFile.h"

namespace {

struct PatternCase {
    std::string pattern;
    std::string expected;
};

void ExpectExpansions(const std::vector<PatternCase>& cases) {
    for (const auto& c : cases) EXPECT_EQ(ExpandVersionPattern(c.pattern), c.expected) << c.pattern;
}

TEST(ExeFileNameTest, IsTheFullPathOfThisProgramWithItsFileName) {
    const std::string name = GetExeFileName();
    const QFileInfo file(QString::fromStdString(name));
    EXPECT_TRUE(file.isAbsolute()) << name;
    EXPECT_TRUE(file.isFile()) << name;
    EXPECT_TRUE(name.ends_with(KELVO_TEST_PROGRAM_NAME)) << name;
}

#if KELVO_TEST_HAS_VERSION_BLOCK

TEST(VersionValueTest, EveryKeyOfTheEmbeddedBlockReadsBack) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"CompanyName", "Kelvo"},
        {"FileDescription", ""},
        {"FileVersion", KELVO_TEST_FILE_VERSION},
        {"InternalName", ""},
        {"LegalCopyright", ""},
        {"LegalTrademarks", ""},
        {"OriginalFilename", ""},
        {"ProductName", "Kelvo console"},
        {"ProductVersion", KELVO_TEST_FILE_VERSION},
        {"Comments", ""},
    };
    for (const auto& [key, expected] : cases) EXPECT_EQ(GetVersionValue(key), expected) << key;
}

TEST(VersionValueTest, UnknownKeysAndOtherCaseReadEmpty) {
    for (const std::string key : {"", "Product", "ProductNameX", "productname", "Translation",
                                  "\\VarFileInfo\\Translation", "041904E3\\ProductName"}) {
        EXPECT_EQ(GetVersionValue(key), "") << key;
    }
}

TEST(VersionValueTest, FileVersionHasFourNumbers) {
    const std::string version = GetVersionValue("FileVersion");
    EXPECT_EQ(std::count(version.begin(), version.end(), '.'), 3) << version;
}

TEST(ExpandVersionPatternTest, PlaceholdersAreReplacedExactlyAndOnlyThemselves) {
    const std::string version = KELVO_TEST_FILE_VERSION;
    ExpectExpansions({
        {"%p %v\r\n%l", "Kelvo console " + version + "\r\n"},
        {"", ""},
        {"no placeholders here", "no placeholders here"},
        {"%p/%p", "Kelvo console/Kelvo console"},
        {"%x %P %V %%p", "%x %P %V %Kelvo console"},
        {"%n|%d|%r|%c|%l", "Kelvo||" + version + "||"},
        {"%", "%"},
        {"100%", "100%"},
    });
}

// The reader must insist on a whole, exact ELF file; a damaged or foreign file is no block.
TEST(ElfSectionTest, OnlyAnIntactFileWithThatExactSectionGivesBytes) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString self = QString::fromStdString(GetExeFileName());
    std::vector<uint8_t> own;
    ASSERT_TRUE(platform::ReadElfSection(self.toStdString(), kVersionSectionName, own));

    const QString copy = folder.filePath("copy");
    ASSERT_TRUE(QFile::copy(self, copy));
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(platform::ReadElfSection(copy.toStdString(), kVersionSectionName, bytes));
    EXPECT_EQ(bytes, own);

    EXPECT_FALSE(platform::ReadElfSection(copy.toStdString(), ".kelvo", bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(platform::ReadElfSection(copy.toStdString(), ".kelvo_version2", bytes));
    EXPECT_FALSE(platform::ReadElfSection(copy.toStdString(), ".bss", bytes));

    QFile whole(self);
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    const QByteArray content = whole.readAll();
    for (const qsizetype length : {qsizetype{0}, qsizetype{4}, qsizetype{63}, qsizetype{64},
                                   content.size() / 2, content.size() - 1}) {
        const QString cut = folder.filePath(QString("cut%1").arg(length));
        QFile file(cut);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content.left(length));
        file.close();
        EXPECT_FALSE(platform::ReadElfSection(cut.toStdString(), kVersionSectionName, bytes))
            << length << " bytes";
        EXPECT_TRUE(bytes.empty());
    }

    EXPECT_FALSE(platform::ReadElfSection(folder.path().toStdString(), kVersionSectionName, bytes));
    EXPECT_FALSE(platform::ReadElfSection(folder.filePath("missing").toStdString(),
                                          kVersionSectionName, bytes));
}

#else

TEST(VersionValueTest, AnExecutableWithoutTheBlockGivesEmptyValues) {
    for (const std::string key : {"CompanyName", "FileVersion", "ProductName", "ProductVersion"}) {
        EXPECT_EQ(GetVersionValue(key), "") << key;
    }
    std::vector<uint8_t> bytes;
    EXPECT_FALSE(platform::ReadElfSection(GetExeFileName(), kVersionSectionName, bytes));
}

TEST(ExpandVersionPatternTest, WithoutTheBlockOnlyTheLiteralTextRemains) {
    ExpectExpansions({
        {"%p %v\r\n%l", " \r\n"},
        {"%p%v%l%c%r%n%d", ""},
        {"%x", "%x"},
    });
}

#endif

}  // namespace
