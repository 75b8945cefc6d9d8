#pragma once

#include "core/settings.h"

#include <map>
#include <string>
#include <vector>

namespace vlm::test {

using sys::ReadStatus;
using sys::WriteStatus;

// A made-up file system for the settings: folders that take no new files or can't be written at all, files that
// are read-only, in use or unreadable.
struct FakeFolder {
    bool takesNewFiles = true; // a temporary file may be made here
    bool readOnly = false; // nothing here may change (a read-only medium, no rights at all)
};

struct FakeFile {
    std::vector<unsigned char> bytes;
    bool readable = true;
    bool writable = true; // its own rights or read-only mark
    bool inUse = false; // held open by another program without sharing
};

class FakeFiles final : public SettingsFiles {
public:
    std::map<std::string, FakeFolder> folders;
    std::map<std::string, FakeFile> files;
    // Every operation, in order: "read P", "replace P", "in place P", "aside P -> Q", "make P".
    std::vector<std::string> calls;

    sys::FileContents Read(const std::string& path) override
    {
        calls.push_back("read " + path);
        sys::FileContents contents;
        const auto file = files.find(path);
        if (file == files.end())
            contents.Status = ReadStatus::Missing;
        else if (!file->second.readable || file->second.inUse)
            contents.Status = ReadStatus::Unreadable;
        else {
            contents.Status = ReadStatus::Read;
            contents.Bytes = file->second.bytes;
        }
        return contents;
    }
    WriteStatus Replace(const std::string& path, const std::vector<unsigned char>& bytes) override
    {
        calls.push_back("replace " + path);
        const auto folder = folders.find(Folder(path));
        if (folder == folders.end())
            return WriteStatus::Failed;
        const auto file = files.find(path);
        if (file != files.end()) {
            if (file->second.inUse)
                return WriteStatus::Failed;
            if (!file->second.writable || folder->second.readOnly)
                return WriteStatus::Denied;
        }
        if (folder->second.readOnly || !folder->second.takesNewFiles)
            return WriteStatus::NoTemporary;
        files[path] = FakeFile { bytes };
        return WriteStatus::Written;
    }
    WriteStatus WriteInPlace(const std::string& path, const std::vector<unsigned char>& bytes) override
    {
        calls.push_back("in place " + path);
        const auto file = files.find(path);
        if (file == files.end())
            return WriteStatus::Denied;
        if (file->second.inUse)
            return WriteStatus::Failed;
        if (!file->second.writable || folders[Folder(path)].readOnly)
            return WriteStatus::Denied;
        file->second.bytes = bytes;
        return WriteStatus::Written;
    }
    WriteStatus MoveAside(const std::string& path, const std::string& newPath) override
    {
        calls.push_back("aside " + path + " -> " + newPath);
        const auto file = files.find(path);
        if (file == files.end() || file->second.inUse || files.count(newPath))
            return WriteStatus::Failed;
        const FakeFolder& folder = folders[Folder(path)];
        if (folder.readOnly || !folder.takesNewFiles)
            return WriteStatus::Denied;
        files[newPath] = file->second;
        files.erase(file);
        return WriteStatus::Written;
    }
    bool Exists(const std::string& path) override { return files.count(path) || folders.count(path); }
    bool MakeFolders(const std::string& path) override
    {
        calls.push_back("make " + path);
        if (folders.count(path))
            return true;
        const auto parent = folders.find(Folder(path));
        if (parent == folders.end() || parent->second.readOnly || !parent->second.takesNewFiles)
            return false;
        folders[path] = {};
        return true;
    }

    // The calls that touched anything under `folder`.
    std::vector<std::string> CallsUnder(const std::string& folder) const
    {
        std::vector<std::string> touched;
        for (const std::string& call : calls)
            if (call.find(" " + folder + sys::kPathSeparator) != std::string::npos || call.ends_with(" " + folder))
                touched.push_back(call);
        return touched;
    }

    static std::string Folder(const std::string& path)
    {
        return path.substr(0, path.find_last_of(sys::kPathSeparator));
    }
};

} // namespace vlm::test
