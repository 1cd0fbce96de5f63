// Writing a table file without ever leaving a half-written or foreign one.
//
// Both writers create the file under a temporary name in the target's own
// folder (O_EXCL, so nothing planted there is opened), write and fsync it,
// set mode 0644 and rename it over the target, so a reader sees the old
// table or the new one, never part of one. On failure the temporary file is
// removed and nothing else is touched.
#ifndef TCP_TOOLS_FILE_INSTALL_H_
#define TCP_TOOLS_FILE_INSTALL_H_

#include <optional>
#include <string>
#include <string_view>

namespace tcptable {

// Writes `bytes` as the table at `path`, an absolute path such as
// "/tmp//dev/pts/3", in world-writable /tmp. Walks the path from "/" one
// folder at a time without following a symbolic link, creating missing
// folders with mode 0755. Refuses (returns the reason, naming the path at
// fault) a component that is a symbolic link or no folder, a folder that
// belongs to another user than the effective user or root or that group or
// others may write (unless sticky, as /tmp is), and an existing target that
// is a symbolic link, no regular file, or another user's. nullopt: written.
std::optional<std::string> InstallFile(const std::string &path, std::string_view bytes);

// Writes `bytes` to `path` anywhere, through a temporary file in the same
// folder and a rename, mode 0644. An existing symbolic link at `path` is
// replaced, not followed; anything else there that is no regular file (a
// folder, a device, a FIFO, a socket) is refused and left as it is.
// nullopt: written; otherwise the reason.
std::optional<std::string> WriteFileReplacing(const std::string &path, std::string_view bytes);

}  // namespace tcptable

#endif  // TCP_TOOLS_FILE_INSTALL_H_
