#include "core/settings.h"

#include "core/system.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace vlm {

namespace {

constexpr std::size_t kCounterOffset = 0;
constexpr std::size_t kBellOffset = 4;
constexpr std::size_t kScheduleOffset = 8;
constexpr std::size_t kAutostartOffset = 680;

void PutInt32(unsigned char* at, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(bits >> (8 * i));
}

std::int32_t GetInt32(const unsigned char* at)
{
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(at[i]) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

} // namespace

const char* MessageText(SettingsMessage message)
{
    return message == SettingsMessage::LoadFailed ? kLoadErrorText : kSaveErrorText;
}

SettingsBytes EncodeSettings(const Settings& settings)
{
    SettingsBytes bytes {};
    PutInt32(bytes.data() + kCounterOffset, settings.RotationCounter);
    PutInt32(bytes.data() + kBellOffset, settings.BellChoice + 1);
    std::size_t at = kScheduleOffset;
    for (const auto& day : settings.Schedule) {
        for (const std::int32_t flag : day) {
            PutInt32(bytes.data() + at, flag);
            at += 4;
        }
    }
    PutInt32(bytes.data() + kAutostartOffset, settings.AutostartFlag ? 1 : 0);
    return bytes;
}

void DecodeSettings(const unsigned char* bytes, std::size_t size, Settings& settings)
{
    const auto has = [size](std::size_t offset) { return offset + 4 <= size; };

    if (has(kCounterOffset))
        settings.RotationCounter = (GetInt32(bytes + kCounterOffset) & 0x1F) % 28;

    // Stored as choice + 1. Older files hold other values; anything outside 1..3 means three strokes,
    // and 3 is clamped to the last choice.
    if (has(kBellOffset)) {
        const std::int32_t v = GetInt32(bytes + kBellOffset);
        settings.BellChoice = (v >= 1 && v <= 3) ? std::min(v - 1, kBellChoiceCount - 1) : 1;
    }

    std::size_t at = kScheduleOffset;
    for (auto& day : settings.Schedule) {
        for (std::int32_t& flag : day) {
            if (has(at))
                flag = GetInt32(bytes + at); // kept as read: only a 1 arms a reminder
            at += 4;
        }
    }

    if (has(kAutostartOffset))
        settings.AutostartFlag = GetInt32(bytes + kAutostartOffset) != 0;
}

bool LoadSettings(const std::string& path, Settings& settings)
{
    const sys::FileContents file = sys::ReadRegularFile(path, kSettingsFileSize);
    if (file.Status != sys::ReadStatus::Read)
        return false;
    DecodeSettings(file.Bytes.data(), file.Bytes.size(), settings);
    return true;
}

bool SaveSettings(const std::string& path, const Settings& settings)
{
    return WriteSettingsFile(SystemSettingsFiles(), path, EncodeSettings(settings)) == sys::WriteStatus::Written;
}

namespace {

class SystemFiles final : public SettingsFiles {
public:
    sys::FileContents Read(const std::string& path) override { return sys::ReadRegularFile(path, kSettingsFileSize); }
    sys::WriteStatus Replace(const std::string& path, const std::vector<unsigned char>& bytes) override
    {
        return sys::ReplaceFile(path, bytes);
    }
    sys::WriteStatus WriteInPlace(const std::string& path, const std::vector<unsigned char>& bytes) override
    {
        return sys::WriteInPlace(path, bytes);
    }
    sys::WriteStatus MoveAside(const std::string& path, const std::string& newPath) override
    {
        return sys::MoveAside(path, newPath);
    }
    bool Exists(const std::string& path) override { return sys::Exists(path); }
    bool MakeFolders(const std::string& path) override { return sys::MakeFolders(path); }
};

std::string FolderOfFile(const std::string& path)
{
    const auto end = sys::FolderEnd(path);
    return end == std::string::npos ? std::string(".") : path.substr(0, end);
}

// How many names the moved-aside unread files may take before a save gives up.
constexpr int kAsideNames = 10;

} // namespace

SettingsFiles& SystemSettingsFiles()
{
    static SystemFiles files;
    return files;
}

sys::WriteStatus WriteSettingsFile(
    SettingsFiles& files, const std::string& path, const SettingsBytes& bytes, bool* inPlace)
{
    const std::vector<unsigned char> data(bytes.begin(), bytes.end());
    const sys::WriteStatus replaced = files.Replace(path, data);
    // A folder that takes no new files may still let its files be written (a common Windows ACL; a 555 folder
    // holding a 644 file): the file is written where it is, in one write.
    if (replaced == sys::WriteStatus::NoTemporary) {
        if (inPlace)
            *inPlace = true;
        return files.WriteInPlace(path, data);
    }
    return replaced;
}

SettingsPlaces SettingsPlacesFor(SettingsLayout layout, const std::string& programDir, const std::string& userFolder)
{
    SettingsPlaces places;
    if (layout == SettingsLayout::Portable)
        places.ProgramFile = programDir + sys::kPathSeparator + kSettingsFileName;
    if (!userFolder.empty())
        places.UserFile = userFolder + sys::kPathSeparator + kSettingsFileName;
    return places;
}

SettingsStore::SettingsStore(std::string path)
    : m_files(&SystemSettingsFiles())
{
    SetPlaces({ std::move(path), {} });
}

void SettingsStore::SetPlaces(SettingsPlaces places)
{
    m_places = std::move(places);
    m_path = m_places.ProgramFile.empty() ? m_places.UserFile : m_places.ProgramFile;
    m_unread = false;
    m_retriesLeft = 0;
}

void SettingsStore::Note(const std::string& text) const
{
    if (m_log)
        m_log(text);
}

sys::ReadStatus SettingsStore::Load()
{
    m_unread = false;
    m_retriesLeft = 0;
    // Once the user's file exists it is the one: a portable copy that once had to move its settings there keeps
    // them there, even where its own folder can be written again.
    sys::FileContents file;
    if (!m_places.UserFile.empty()) {
        file = m_files->Read(m_places.UserFile);
        m_path = m_places.UserFile;
    }
    if (!m_places.ProgramFile.empty() && (m_places.UserFile.empty() || file.Status == sys::ReadStatus::Missing)) {
        file = m_files->Read(m_places.ProgramFile);
        m_path = m_places.ProgramFile;
    }
    if (file.Status == sys::ReadStatus::Read)
        DecodeSettings(file.Bytes.data(), file.Bytes.size(), m_values);
    if (file.Status == sys::ReadStatus::Unreadable) {
        m_unread = true;
        m_retriesLeft = kLoadRetries;
        Note("cannot read " + m_path + " now: trying again, and not writing over it until it has been read");
    }
    return file.Status;
}

bool SettingsStore::RetryLoad()
{
    if (!m_unread || m_retriesLeft <= 0)
        return false;
    --m_retriesLeft;
    const sys::FileContents file = m_files->Read(m_path);
    if (file.Status == sys::ReadStatus::Read) {
        m_unread = false;
        m_retriesLeft = 0;
        m_values = Settings {};
        DecodeSettings(file.Bytes.data(), file.Bytes.size(), m_values);
        Note("read " + m_path + " at last");
        return true;
    }
    if (file.Status != sys::ReadStatus::Unreadable) {
        // Gone or replaced by something else meanwhile: nothing is left to protect.
        m_unread = false;
        m_retriesLeft = 0;
        Note("stopped trying to read " + m_path + ": it is no longer an unreadable file");
        return false;
    }
    if (m_retriesLeft == 0)
        Note("gave up reading " + m_path + " for now; a save will keep it aside first");
    return false;
}

sys::WriteStatus SettingsStore::KeepUnreadFile()
{
    for (int n = 1; n <= kAsideNames; ++n) {
        const std::string aside = m_path + ".unread" + (n == 1 ? std::string() : "-" + std::to_string(n));
        if (m_files->Exists(aside))
            continue;
        const sys::WriteStatus moved = m_files->MoveAside(m_path, aside);
        if (moved == sys::WriteStatus::Written) {
            m_unread = false;
            m_retriesLeft = 0;
            Note("kept the unread " + m_path + " as " + aside);
        } else {
            Note("cannot keep the unread " + m_path + " aside as " + aside);
        }
        return moved;
    }
    Note("cannot keep the unread " + m_path + " aside: every name for it is taken");
    return sys::WriteStatus::Failed;
}

bool SettingsStore::Save()
{
    const SettingsBytes bytes = EncodeSettings(m_values);
    // Where the settings are now; then, when that place refuses for good, the user's own file.
    std::vector<std::string> places { m_path };
    if (!m_places.UserFile.empty() && m_places.UserFile != m_path)
        places.push_back(m_places.UserFile);

    for (const std::string& place : places) {
        sys::WriteStatus status = sys::WriteStatus::Written;
        if (place == m_path && m_unread)
            status = KeepUnreadFile();
        if (status == sys::WriteStatus::Written && place == m_places.UserFile
            && !m_files->MakeFolders(FolderOfFile(place))) {
            Note("cannot make the folder " + FolderOfFile(place));
            status = sys::WriteStatus::Denied;
        }
        bool inPlace = false;
        if (status == sys::WriteStatus::Written)
            status = WriteSettingsFile(*m_files, place, bytes, &inPlace);
        if (inPlace && status == sys::WriteStatus::Written)
            Note("wrote " + place + " in place: its folder takes no new files");
        if (status == sys::WriteStatus::Written) {
            if (place != m_path) {
                Note("cannot write " + m_path + ": the settings live in " + place + " from now on");
                m_path = place;
                m_unread = false;
                m_retriesLeft = 0;
            }
            return true;
        }
        // Something that may pass (the file in use, a full disk) is no reason to move the settings elsewhere.
        if (status != sys::WriteStatus::Denied)
            return false;
    }
    return false;
}

} // namespace vlm
