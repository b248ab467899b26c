#pragma once

#include <string>
#include <string_view>
#include <strings.h>

// The system's program files under their Linux names. The update list, the registry and the
// messages name them as the original platform does ("Orvanta.exe", "Freshet.exe",
// "Unmoor.exe"), and those names stay as written wherever they are stored or sent; only the
// file in the installation directory goes by the name below.
namespace platform {

struct ProgramFile {
    const char* listed;     // as the update list and the stored data name it
    const char* installed;  // the file in the installation directory
};

inline constexpr ProgramFile kMainProgramFile{"Orvanta.exe", "orvanta"};
inline constexpr ProgramFile kUpdaterFile{"Freshet.exe", "freshet"};
inline constexpr ProgramFile kUninstallerFile{"Unmoor.exe", "unmoor"};
inline constexpr ProgramFile kProgramFiles[] = {kMainProgramFile, kUpdaterFile, kUninstallerFile};

// The program file listed as `name` (ASCII case ignored, as the original platform compares
// file names), or null when `name` is none of them.
inline const ProgramFile* FindProgramFile(std::string_view name)
{
    for (const ProgramFile& file : kProgramFiles) {
        std::string_view listed = file.listed;
        if (name.size() == listed.size() && strncasecmp(name.data(), listed.data(), name.size()) == 0)
            return &file;
    }
    return nullptr;
}

// The name a listed file has in the installation directory: a program file's Linux name, any
// other name unchanged.
inline std::string InstalledFileName(std::string_view listed)
{
    const ProgramFile* file = FindProgramFile(listed);
    return file ? file->installed : std::string(listed);
}

}  // namespace platform
