#pragma once
// The program's folders and files: where the program lies, the Documents
// folders, creating folder chains, testing a folder without hanging on a dead
// network mount, the start folder of file dialogs, writing a buffer to a file.
// Stateless; any thread may call them.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace kelvara {

// Folder of the running program.
std::filesystem::path GetModuleFolder();

// The shared Documents folder of the program (zq_cfg.xml lives beside it,
// downloads, snapshots, recordings and device logs below it). Not created.
std::filesystem::path GetCommonDocumentsFolder();

// A shell folder by its Windows CSIDL number, mapped onto the XDG folders:
// 5 (Personal) is the user's Documents folder. Empty for a number outside the
// 30 known ones (0-11, 16-27, 29-34) and for those Linux has no folder for
// (control panel, printers, recycle bin, network, ...).
std::filesystem::path GetShellFolderPath(int csidl);

// Creates every missing folder of the chain; failures are ignored. Always 0.
int CreateFolderPath(const std::filesystem::path& path);

// Like CreateFolderPath for a path text that may hold '\' separators and
// doubled separators (paths stored by older versions).
void CreateFolderPathNormalized(std::string_view path);

// 1 when the path exists, 0 when not or when a network file system does not
// answer within `timeout_ms`. Paths on network mounts (NFS, CIFS, SSHFS, ...)
// are tested on a short-lived worker thread so a dead server never blocks the
// caller longer than the time-out; the worker ends by itself later.
int PathExistsWithTimeout(const std::filesystem::path& path, int timeout_ms);

// Start folder of a file dialog: the last file's folder when it exists
// (tested with an 800-ms time-out), else `default_folder`, else the program
// folder.
std::filesystem::path GetStartFolderForFile(const std::filesystem::path& last_file,
                                            const std::filesystem::path& default_folder = {});

// Start folder of a folder dialog: the last folder when it exists, else as above.
std::filesystem::path GetStartFolder(const std::filesystem::path& last_folder,
                                     const std::filesystem::path& default_folder = {});

// Writes the buffer to the file (created or replaced whole, atomically).
// The number of bytes written, or -1 (with a message on standard output).
int WriteFileBuffer(const std::filesystem::path& path, const void* buffer, std::size_t length);

// b × ceil(a / b); a when b is 0.
std::uint64_t RoundUpToMultiple(std::uint32_t a, std::uint32_t b);

// Seconds since 1970-01-01 of a Windows file time (100-ns units since
// 1601-01-01); also stored in *out when given.
std::int64_t FileTimeToUnixTime(std::uint64_t file_time, std::int64_t* out = nullptr);

namespace folder_detail {
// The file-system type of the mount holding `absolute_path`, from the text of
// /proc/self/mountinfo (longest mount point that contains the path).
std::string FsTypeOf(std::string_view mountinfo, const std::string& absolute_path);
bool IsNetworkFsType(std::string_view fs_type);
// Runs `probe` on a worker thread and waits up to `timeout_ms`: its answer,
// or 0 on time-out (the worker finishes later on its own).
int ProbeWithTimeout(std::function<bool()> probe, int timeout_ms);
}  // namespace folder_detail

}  // namespace kelvara
