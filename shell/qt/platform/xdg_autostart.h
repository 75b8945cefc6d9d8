#pragma once

#include "core/autostart_store.h"

#include <QString>

#include <optional>

namespace vlm {

// The Exec value, as written in a desktop entry file, that starts `program` with no arguments: one double-quoted
// argument that no launcher splits or hands to a shell. Empty when `program` holds a control character that a
// desktop entry can't carry (anything below U+0020 but tab, newline and carriage return, or DEL).
std::optional<QString> DesktopExecValue(const QString& program);

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
QString ConfigHomeFromEnvironment();

// Start at logon through the freedesktop autostart folder: the entry "VLM.desktop" in <configHome>/autostart.
class XdgAutostart final : public AutostartStore {
public:
    // An empty configHome means the folder the environment names (ConfigHomeFromEnvironment()). The entry runs
    // <program folder>/VLM, or `launcher` when one is given (a system install's command, which stays the same
    // whichever folder the package puts the program in).
    explicit XdgAutostart(QString configHome = {}, QString launcher = {});

    std::string RegisterAutostart(const std::string& programDir) override;
    void UnregisterAutostart(const std::string& programDir) override;
    bool IsRegistered(const std::string& programDir) const override;
    QString RegisterAutostart(const QString& programDir);
    void UnregisterAutostart(const QString& programDir);

    // The entry file this store writes and removes.
    QString EntryPath() const;

private:
    QString Program(const QString& programDir) const;

    QString m_folder;
    QString m_launcher;
};

} // namespace vlm
