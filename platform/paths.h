// File-system places of the program on Linux and small file helpers.
// Names inside the program are Windows-1252; these functions take and give
// Windows-1252 names and convert at the file system.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fd.h"

namespace kalimbro {

// Directory of the running executable, without a trailing '/'.
std::string programDirectory();
// The "Windows directory" of the family: /etc/varelu.
std::string systemSettingsDirectory();
// $XDG_CONFIG_HOME, else ~/.config, without a trailing '/'.
std::string userConfigDirectory();

// The program's private temporary directory, with a trailing '/'. Made on
// first use with mkdtemp under the first place where that succeeds of
// $TMPDIR (when it is an absolute name), /tmp and /var/tmp, mode 0700.
// The run holds an flock on it, and a mark inside says it is this
// program's, so that a later start can tell a directory left by a killed
// run from one in use. Removed with everything in it by
// removeTempDirectory, at the latest when the process exits. Empty when
// no such directory can be made: then there is no place for scratch
// files, and no name may be built from it.
std::string tempDirectory();
void removeTempDirectory();
// A new empty file "WAV......" in tempDirectory; its name, or empty on
// failure.
std::string makeTempFile(std::string_view prefix = "WAV");
// Removes what killed runs of this program left in the places
// tempDirectory uses: the user's own "kalimbro.XXXXXX" directories that
// hold the mark and whose lock can be taken. Nothing else is touched.
void removeLeftoverTempDirectories();
// The places tried after $TMPDIR: /tmp and /var/tmp, unless a test names
// others (or none).
void setSystemTempPlaces(std::vector<std::string> places);

// A new file that is to take the place of `nativeTarget` by a rename:
// hidden beside it, ".NAME.kalimbro-XXXXXXXXXX" (NAME cut to 200 bytes),
// created with `mode` less the umask and locked (flock) until both
// descriptors are closed, so that a later start tells a file being written
// from one left by a killed run. An empty name when it cannot be made.
struct HiddenSibling {
  std::string name;  // native
  UniqueFd fd;       // open for writing
  UniqueFd lock;     // a second descriptor of the same open file
};
HiddenSibling createHiddenSibling(const std::string& nativeTarget, mode_t mode = 0666);
// Removes the hidden siblings that killed runs left where a save of
// `cp1252File` writes: beside the name and beside the file its links lead
// to. Only the user's own regular files of such a name whose lock can be
// taken go; nothing else is touched.
void removeLeftoversBeside(std::string_view cp1252File);

// The program's state folder, $XDG_STATE_HOME/kalimbro (else
// ~/.local/state/kalimbro), with a trailing '/': what must outlive a run
// (takes cut off by a signal, what identifies a decoded MP3). Made, mode
// 0700, on first use; empty when it cannot be made.
std::string stateDirectory();
// Makes a folder (native name) that only the user may enter, or takes the
// one there; false unless it is a writable folder afterwards.
bool makePrivateDirectory(const std::string& native);
// The state folder of one sound file, with a trailing '/': a folder of
// stateDirectory() named after the file's absolute path (through symbolic
// links), holding a file "som" with that path; "sem-nome" for a sound
// without a name. Made on first use; empty when it cannot be made.
std::string soundStateDirectory(std::string_view soundFile);
// The absolute path (Windows-1252) of the file `soundFile` reaches, as its
// state folder records it: two names of one file give one path, two files
// of one name in different folders give two.
std::string soundFilePath(std::string_view soundFile);
// Removes a sound's state folder (Windows-1252, a folder of
// stateDirectory()) once it holds nothing but the record of its sound.
void removeUnusedSoundStateDirectory(std::string_view folder);

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
// alias), or the last of a chain of links, points at, whether it exists or
// not; else the file of that name. Native names. Empty when the links
// lead nowhere (a loop, or more of them than the system follows).
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
// `path` without the slashes at its end ("/" stays "/").
std::string withoutTrailingSlash(std::string path);

}  // namespace kalimbro
