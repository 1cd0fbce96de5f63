// File access shared by the engine's modules: opening only regular files,
// without ever blocking on a FIFO or device, and reading whole files or
// ranges of them.
#ifndef QUERY_FILE_IO_H_
#define QUERY_FILE_IO_H_

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

enum class ReadResult { kOk, kMissing, kNotRegular, kPseudoFile, kTooLarge, kUnreadable };

// True when `fd` lies on a kernel pseudo-filesystem (proc, sys, debugfs,
// securityfs, cgroup): its "files" are generated views of the system, such as
// a process's environment, never data of a store. Always false off Linux.
bool OnPseudoFilesystem(int fd);

// Reads the regular file `path` whole into `out`. Never blocks on a FIFO or
// device: anything that is not a regular file is refused as kNotRegular, a
// file of a pseudo-filesystem as kPseudoFile. A file holding more than
// `max_size` bytes is refused as kTooLarge; the read stops at `max_size` + 1
// bytes whatever size the file claims.
ReadResult ReadWholeFile(const std::string& path, std::string* out, size_t max_size);

// "cannot be opened: <reason>" text for an error message.
std::string DescribeReadFailure(ReadResult result);

// How a symbolic link in a file's place is taken. The store's own files
// follow a link only when the link's owner owns its target too, so that a
// store set up by one user cannot have a query run by another print that
// user's private files.
enum class LinkRule { kFollow, kFollowIfSameOwner };

// Why a symbolic link at `path`, whose target's status is `target`, is not
// followed under kFollowIfSameOwner; empty when `path` is no link or one
// user owns both.
std::string ForeignLinkReason(const std::string& path, const struct stat& target);

// Opens `path` with `flags` (plus non-blocking, close-on-exec, and never as
// a controlling terminal) and returns the descriptor, or -1 with the reason
// in `why`. Anything but a regular file is refused before it is opened, and a
// file of a pseudo-filesystem after; so is a link `links` does not follow.
int OpenRegularFile(const std::string& path, int flags, std::string* why,
                    LinkRule links = LinkRule::kFollow);

// Reads up to `n` bytes at `offset`, retrying short and interrupted reads;
// returns the count read, less than `n` only at the end of the file or on an
// error.
ssize_t ReadAt(int fd, char* out, size_t n, int64_t offset);

// A region of a file that holds data: bytes [begin, end).
struct DataExtent {
  int64_t begin;
  int64_t end;
};

// The regions of the first `size` bytes of the file open on `fd` that hold
// data, as the file system reports them (SEEK_DATA, SEEK_HOLE); the rest are
// holes of a sparse file, which read as zero bytes and cost no disk. Returns
// false, leaving `extents` empty, when the file has no hole there or the file
// system cannot tell (then every byte counts as data). At most `max_extents`
// regions are listed; the last one listed then runs to `size`.
bool FindDataExtents(int fd, int64_t size, size_t max_extents, std::vector<DataExtent>* extents);

// The first offset at or after `offset` that holds data, or -1 when none
// does before the end of the file; `offset` itself where the file system
// cannot tell.
int64_t NextDataOffset(int fd, int64_t offset);
// The first offset at or after `offset` that begins a hole (the end of the
// file counts as one); the end of the file where the file system cannot tell.
int64_t NextHoleOffset(int fd, int64_t offset);

// Mapped reads. Touching a page of a mapping that its file no longer holds
// (the file shrank) raises SIGBUS, which ends the process unless a handler
// returns from it. The engine installs no handler by itself: a program that
// wants mapped reads calls EnableMappedReads once at start, before it starts
// threads. It installs a SIGBUS handler that returns such a fault into the
// walk in progress on the faulting thread (any other SIGBUS still ends the
// process by the signal) and unblocks SIGBUS on the calling thread. False
// when either step fails. Until then, and on any thread where SIGBUS is
// blocked, VisitMapped maps nothing and callers read through ReadAt.
bool EnableMappedReads();
bool MappedReadsEnabled();

// Maps the first `size` bytes of the regular file open on `fd` read-only, a
// window of about 1 MiB at a time, and hands them to `visit` in pieces of
// `piece` bytes (the last may be shorter) until it returns true. A file that
// shrinks after `size` was taken ends the walk at its new end, never the
// process: the rest of the page that holds the new end reads as zero bytes
// (as the system maps it), and the first page past it ends the walk. Returns
// the bytes of the pieces `visit` finished with, which a caller may go on
// from with positioned reads; -1 when nothing was visited: the file cannot be
// mapped, or mapped reads are not enabled on this thread (see above).
int64_t VisitMapped(int fd, int64_t size, size_t piece, bool (*visit)(const char* bytes, size_t n, void* context),
                    void* context);

#endif  // QUERY_FILE_IO_H_
