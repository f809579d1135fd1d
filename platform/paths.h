// File-system places of the program on Linux and small file helpers.
// Names inside the program are Windows-1252; these functions take and give
// Windows-1252 names and convert at the file system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kalimbro {

// Directory of the running executable, without a trailing '/'.
std::string programDirectory();
// The "Windows directory" of the family: /etc/varelu.
std::string systemSettingsDirectory();
// $XDG_CONFIG_HOME, else ~/.config, without a trailing '/'.
std::string userConfigDirectory();

// The program's private temporary directory, with a trailing '/'. Made on
// first use with mkdtemp under $TMPDIR (else /tmp), mode 0700; removed with
// everything in it by removeTempDirectory.
std::string tempDirectory();
void removeTempDirectory();
// A new empty file "WAV......" in tempDirectory; its name, or empty on
// failure.
std::string makeTempFile(std::string_view prefix = "WAV");

// The program's state folder, $XDG_STATE_HOME/kalimbro (else
// ~/.local/state/kalimbro), with a trailing '/': what must outlive a run
// (takes cut off by a signal, what identifies a decoded MP3). Made, mode
// 0700, on first use; empty when it cannot be made.
std::string stateDirectory();
// The state folder of one sound file, with a trailing '/': a folder of
// stateDirectory() named after the file's absolute path (through symbolic
// links), holding a file "som" with that path. Made on first use; empty
// when it cannot be made.
std::string soundStateDirectory(std::string_view soundFile);

// A Windows-1252 name that reaches `nativeTarget` although the target's
// path has no Windows-1252 form: a symbolic link named `shownName`, alone
// in a fresh directory of the temporary directory. Reading through it reads
// the target; the program's saves replace the file it points at. Empty
// when it cannot be made.
std::string aliasFor(std::string_view nativeTarget, std::string_view shownName);

// Windows-1252 name -> the name as the file system stores it.
std::string nativePath(std::string_view cp1252);
bool fileExists(std::string_view cp1252);
bool directoryExists(std::string_view cp1252);
bool removeFile(std::string_view cp1252);
std::optional<uint64_t> fileSize(std::string_view cp1252);

// The file a save to `nativeName` replaces: the one a symbolic link (an
// alias) points at, else the file of that name. Native names.
std::string replacedFile(const std::string& nativeName);
// When `alias` is an alias, `alias` + `suffix` becomes an alias of its
// target's name + `suffix` (a file beside the target, existing or not);
// any other name: nothing.
void extendAlias(std::string_view alias, std::string_view suffix);
// Removes a file and, when the name is an alias, the alias too.
bool removeFileAndAlias(std::string_view cp1252);

// What tells one version of a file from another without reading it: its
// size and its modification time to the nanosecond (kept by cp -p, rsync
// and backups, so a different file copied in with an older time still
// differs).
struct FileStamp {
  uint64_t size = 0;
  int64_t seconds = 0;
  int64_t nanoseconds = 0;
  bool operator==(const FileStamp&) const = default;
};
std::optional<FileStamp> fileStamp(std::string_view cp1252);
// Renames a file to a name no file has yet, never replacing one; native
// names. False, with errno EEXIST when `nativeTo` exists, or the rename's
// own error.
bool renameWithoutReplacing(const std::string& nativeFrom, const std::string& nativeTo);

// The part after the last '/'; the part up to and including it.
std::string fileNamePart(std::string_view path);
std::string directoryPart(std::string_view path);

}  // namespace kalimbro
