// Where the settings are read from and written to, decided over a file system the tests make up: folders that take
// no new files or can't be written at all, files that are read-only, in use or unreadable for a while.
#include "core/settings.h"

#include "fake_settings_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vlm {
namespace {

using sys::ReadStatus;
using sys::WriteStatus;
using test::FakeFile;
using test::FakeFiles;
using test::FakeFolder;

std::vector<unsigned char> Bytes(const Settings& settings)
{
    const SettingsBytes bytes = EncodeSettings(settings);
    return { bytes.begin(), bytes.end() };
}

Settings WithCounter(int counter)
{
    Settings s;
    s.RotationCounter = counter;
    return s;
}

const std::string kProgramDir = std::string(1, sys::kPathSeparator) + "opt";
const std::string kHome = std::string(1, sys::kPathSeparator) + "home";
const std::string kUserDir = kHome + sys::kPathSeparator + "VLM";
const std::string kProgramFile = kProgramDir + sys::kPathSeparator + "vlm1.cfg";
const std::string kUserFile = kUserDir + sys::kPathSeparator + "vlm1.cfg";

enum class ProgramFile { None, Present, ReadOnly, InUse };
enum class Expect { Program, User, Nowhere };

struct PlaceCase {
    const char* name;
    SettingsLayout layout = SettingsLayout::Portable;
    FakeFolder programFolder;
    ProgramFile programFile = ProgramFile::None;
    bool userFile = false; // the user's file exists already (counter 9)
    bool userFolderAvailable = true; // the user's folder may be made
    bool userHasFolder = true; // the system names a folder of the user's own at all
    Expect loadedFrom = Expect::Nowhere;
    Expect savedTo = Expect::Program;
};

class SettingsPlaces : public testing::TestWithParam<PlaceCase> {
protected:
    void SetUp() override
    {
        const PlaceCase& c = GetParam();
        m_files.folders[kProgramDir] = c.programFolder;
        m_files.folders[kHome] = FakeFolder { c.userFolderAvailable, !c.userFolderAvailable };
        if (c.programFile != ProgramFile::None) {
            FakeFile file { Bytes(WithCounter(5)) };
            file.writable = c.programFile != ProgramFile::ReadOnly;
            file.inUse = c.programFile == ProgramFile::InUse;
            // A file in use was readable at start (the other program opened it later).
            m_files.files[kProgramFile] = file;
        }
        if (c.userFile) {
            m_files.folders[kUserDir] = {};
            m_files.files[kUserFile] = FakeFile { Bytes(WithCounter(9)) };
        }
        m_store.SetFiles(m_files);
        m_store.SetPlaces(SettingsPlacesFor(c.layout, kProgramDir, c.userHasFolder ? kUserDir : ""));
    }

    FakeFiles m_files;
    SettingsStore m_store;
};

TEST_P(SettingsPlaces, LoadsAndSavesWhereTheFolderAllows)
{
    const PlaceCase& c = GetParam();
    if (c.programFile == ProgramFile::InUse)
        m_files.files[kProgramFile].inUse = false;
    const ReadStatus loaded = m_store.Load();
    if (c.programFile == ProgramFile::InUse)
        m_files.files[kProgramFile].inUse = true;
    const int expectedCounter = c.loadedFrom == Expect::Program ? 5 : c.loadedFrom == Expect::User ? 9 : 0;
    EXPECT_EQ(loaded, c.loadedFrom == Expect::Nowhere ? ReadStatus::Missing : ReadStatus::Read);
    EXPECT_EQ(m_store.Values().RotationCounter, expectedCounter);

    m_store.Values().RotationCounter = 21;
    const auto programBefore
        = m_files.files.count(kProgramFile) ? m_files.files[kProgramFile].bytes : std::vector<unsigned char> {};
    EXPECT_EQ(m_store.Save(), c.savedTo != Expect::Nowhere);

    const bool inProgram
        = m_files.files.count(kProgramFile) && m_files.files[kProgramFile].bytes == Bytes(WithCounter(21));
    const bool inUser = m_files.files.count(kUserFile) && m_files.files[kUserFile].bytes == Bytes(WithCounter(21));
    EXPECT_EQ(inProgram, c.savedTo == Expect::Program);
    EXPECT_EQ(inUser, c.savedTo == Expect::User);
    if (c.savedTo != Expect::Program && !programBefore.empty()) {
        EXPECT_EQ(m_files.files[kProgramFile].bytes, programBefore) << "the file beside the program stays as it was";
    }
    if (c.savedTo != Expect::Nowhere) {
        EXPECT_EQ(m_store.Path(), c.savedTo == Expect::Program ? kProgramFile : kUserFile);
    }

    // A program installed for everyone never looks into its own folder.
    if (c.layout == SettingsLayout::System) {
        EXPECT_EQ(m_files.CallsUnder(kProgramDir), std::vector<std::string> {});
    }

    // Once moved, the next save goes straight to the user's file, and the next start reads it.
    if (c.savedTo == Expect::User) {
        m_files.calls.clear();
        m_store.Values().RotationCounter = 22;
        EXPECT_TRUE(m_store.Save());
        EXPECT_EQ(m_files.CallsUnder(kProgramDir), std::vector<std::string> {});
        SettingsStore next;
        next.SetFiles(m_files);
        next.SetPlaces(SettingsPlacesFor(c.layout, kProgramDir, kUserDir));
        EXPECT_EQ(next.Load(), ReadStatus::Read);
        EXPECT_EQ(next.Values().RotationCounter, 22);
        EXPECT_EQ(next.Path(), kUserFile);
    }
}

FakeFolder Writable()
{
    return {};
}
FakeFolder NoNewFiles()
{
    return { false, false };
}
FakeFolder ReadOnlyMedium()
{
    return { false, true };
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsPlaces,
    testing::Values(
        // Portable, as it always was.
        PlaceCase { "FirstStartInAWritableFolder", SettingsLayout::Portable, Writable(), ProgramFile::None, false, true,
            true, Expect::Nowhere, Expect::Program },
        PlaceCase { "WritableFolder", SettingsLayout::Portable, Writable(), ProgramFile::Present, false, true, true,
            Expect::Program, Expect::Program },
        // The folder takes no new files but the file may be written: written in place.
        PlaceCase { "FolderTakesNoNewFiles", SettingsLayout::Portable, NoNewFiles(), ProgramFile::Present, false, true,
            true, Expect::Program, Expect::Program },
        // Nothing beside the program may be written: the user's file, without a word.
        PlaceCase { "FolderTakesNoNewFilesAndHasNoFile", SettingsLayout::Portable, NoNewFiles(), ProgramFile::None,
            false, true, true, Expect::Nowhere, Expect::User },
        PlaceCase { "ReadOnlyFile", SettingsLayout::Portable, Writable(), ProgramFile::ReadOnly, false, true, true,
            Expect::Program, Expect::User },
        PlaceCase { "ReadOnlyMediumFirstStart", SettingsLayout::Portable, ReadOnlyMedium(), ProgramFile::None, false,
            true, true, Expect::Nowhere, Expect::User },
        PlaceCase { "ReadOnlyMediumWithAFile", SettingsLayout::Portable, ReadOnlyMedium(), ProgramFile::Present, false,
            true, true, Expect::Program, Expect::User },
        // The user's file, once there, is the one.
        PlaceCase { "UserFileWins", SettingsLayout::Portable, Writable(), ProgramFile::Present, true, true, true,
            Expect::User, Expect::User },
        // Neither place: the save fails (and the user is told).
        PlaceCase { "NeitherPlace", SettingsLayout::Portable, ReadOnlyMedium(), ProgramFile::Present, false, false,
            true, Expect::Program, Expect::Nowhere },
        PlaceCase { "NoUserFolderAtAll", SettingsLayout::Portable, ReadOnlyMedium(), ProgramFile::Present, false, true,
            false, Expect::Program, Expect::Nowhere },
        // In use by another program: that passes; the settings don't move for it.
        PlaceCase { "FileInUse", SettingsLayout::Portable, Writable(), ProgramFile::InUse, false, true, true,
            Expect::Program, Expect::Nowhere },
        // Installed for every user: the user's file only, even beside a writable program with a file of its own.
        PlaceCase { "SystemFirstStart", SettingsLayout::System, Writable(), ProgramFile::Present, false, true, true,
            Expect::Nowhere, Expect::User },
        PlaceCase { "SystemWithUserFile", SettingsLayout::System, Writable(), ProgramFile::Present, true, true, true,
            Expect::User, Expect::User },
        PlaceCase { "SystemWithoutUserFolder", SettingsLayout::System, Writable(), ProgramFile::Present, false, false,
            true, Expect::Nowhere, Expect::Nowhere }),
    [](const auto& info) { return std::string(info.param.name); });

// Atomic replace first; in place only when no temporary file may be made; the user's file only when the program's
// place refuses for good.
TEST(SettingsPlaceOrder, TriesEachWayInTurn)
{
    FakeFiles files;
    files.folders[kProgramDir] = NoNewFiles();
    files.folders[kHome] = {};
    files.files[kProgramFile] = FakeFile { Bytes(WithCounter(5)) };
    SettingsStore store;
    store.SetFiles(files);
    store.SetPlaces(SettingsPlacesFor(SettingsLayout::Portable, kProgramDir, kUserDir));
    ASSERT_EQ(store.Load(), ReadStatus::Read);
    files.calls.clear();
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(files.calls, (std::vector<std::string> { "replace " + kProgramFile, "in place " + kProgramFile }));

    files.calls.clear();
    files.files[kProgramFile].writable = false;
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(files.calls,
        (std::vector<std::string> { "replace " + kProgramFile, "make " + kUserDir, "replace " + kUserFile }));

    files.calls.clear();
    files.folders[kUserDir].takesNewFiles = false;
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(files.calls,
        (std::vector<std::string> { "make " + kUserDir, "replace " + kUserFile, "in place " + kUserFile }));
}

// A file that is there but could not be read is never written over before it has been read.
class UnreadSettings : public testing::Test {
protected:
    void SetUp() override
    {
        m_files.folders[kProgramDir] = {};
        m_files.folders[kHome] = {};
        FakeFile file { Bytes(WithCounter(5)) };
        file.inUse = true;
        m_files.files[kProgramFile] = file;
        m_store.SetFiles(m_files);
        m_store.SetPlaces(SettingsPlacesFor(SettingsLayout::Portable, kProgramDir, kUserDir));
        m_store.SetLog([this](const std::string& text) { m_log.push_back(text); });
        ASSERT_EQ(m_store.Load(), ReadStatus::Unreadable);
        ASSERT_TRUE(m_store.Unread());
    }
    std::vector<unsigned char> Original() const { return Bytes(WithCounter(5)); }

    FakeFiles m_files;
    SettingsStore m_store;
    std::vector<std::string> m_log;
};

TEST_F(UnreadSettings, IsAppliedOnceItCanBeRead)
{
    m_store.Values().BellChoice = 1; // a click meanwhile, whose save failed
    EXPECT_FALSE(m_store.RetryLoad());
    EXPECT_FALSE(m_store.RetryLoad());
    m_files.files[kProgramFile].inUse = false;
    EXPECT_TRUE(m_store.RetryLoad());
    EXPECT_FALSE(m_store.Unread());
    EXPECT_EQ(m_store.Values().RotationCounter, 5);
    EXPECT_EQ(m_store.Values().BellChoice, 0) << "the file as read, over the defaults";
    EXPECT_FALSE(m_store.RetryLoad()) << "read once is enough";
    EXPECT_EQ(m_log.back(), "read " + kProgramFile + " at last");
}

TEST_F(UnreadSettings, TriesForAboutAMinuteThenStops)
{
    for (int i = 0; i < kLoadRetries; ++i)
        EXPECT_FALSE(m_store.RetryLoad());
    m_files.calls.clear();
    m_files.files[kProgramFile].inUse = false;
    EXPECT_FALSE(m_store.RetryLoad());
    EXPECT_EQ(m_files.calls, std::vector<std::string> {});
    // Still unread: a save keeps it first.
    EXPECT_TRUE(m_store.Save());
    EXPECT_EQ(m_files.files[kProgramFile + ".unread"].bytes, Original());
}

TEST_F(UnreadSettings, ASaveKeepsItAsideFirst)
{
    m_files.files[kProgramFile].inUse = false;
    m_files.files[kProgramFile].readable = false;
    m_store.Values().RotationCounter = 3;
    ASSERT_TRUE(m_store.Save());
    EXPECT_EQ(m_files.files[kProgramFile + ".unread"].bytes, Original());
    EXPECT_EQ(m_files.files[kProgramFile].bytes, Bytes(WithCounter(3)));
    EXPECT_FALSE(m_store.Unread());
    EXPECT_EQ(m_log.back(), "kept the unread " + kProgramFile + " as " + kProgramFile + ".unread");
    // The next save writes over what this one wrote.
    m_files.calls.clear();
    ASSERT_TRUE(m_store.Save());
    EXPECT_EQ(m_files.calls, std::vector<std::string> { "replace " + kProgramFile });
}

TEST_F(UnreadSettings, AnEarlierKeptFileStays)
{
    m_files.files[kProgramFile + ".unread"] = FakeFile { { 1, 2, 3 } };
    m_files.files[kProgramFile].inUse = false;
    m_files.files[kProgramFile].readable = false;
    ASSERT_TRUE(m_store.Save());
    EXPECT_EQ(m_files.files[kProgramFile + ".unread"].bytes, (std::vector<unsigned char> { 1, 2, 3 }));
    EXPECT_EQ(m_files.files[kProgramFile + ".unread-2"].bytes, Original());
}

// Still held open: it can be neither moved nor replaced, so the save fails and the file is whole.
TEST_F(UnreadSettings, StillInUseTheSaveFails)
{
    EXPECT_FALSE(m_store.Save());
    EXPECT_EQ(m_files.files[kProgramFile].bytes, Original());
    EXPECT_FALSE(m_files.files.count(kUserFile)) << "a file in use is no reason to move the settings";
    EXPECT_TRUE(m_store.Unread());
    m_files.files[kProgramFile].inUse = false;
    EXPECT_TRUE(m_store.RetryLoad());
    EXPECT_EQ(m_store.Values().RotationCounter, 5);
}

// Unreadable in a folder that can't be written: it stays, and the settings go to the user's file.
TEST_F(UnreadSettings, InAReadOnlyFolderTheUserFileTakesOver)
{
    m_files.files[kProgramFile].inUse = false;
    m_files.files[kProgramFile].readable = false;
    m_files.folders[kProgramDir].readOnly = true;
    ASSERT_TRUE(m_store.Save());
    EXPECT_EQ(m_files.files[kProgramFile].bytes, Original());
    EXPECT_TRUE(m_files.files.count(kUserFile));
    EXPECT_EQ(m_store.Path(), kUserFile);
    EXPECT_FALSE(m_store.Unread());
}

// A missing file is the ordinary first start: nothing to keep, nothing to retry.
TEST(UnreadSettingsMissing, FirstStartChangesNothing)
{
    FakeFiles files;
    files.folders[kProgramDir] = {};
    SettingsStore store;
    store.SetFiles(files);
    store.SetPlaces(SettingsPlacesFor(SettingsLayout::Portable, kProgramDir, ""));
    EXPECT_EQ(store.Load(), ReadStatus::Missing);
    EXPECT_FALSE(store.Unread());
    EXPECT_FALSE(store.RetryLoad());
    files.calls.clear();
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(files.calls, std::vector<std::string> { "replace " + kProgramFile });
}

} // namespace
} // namespace vlm
