// SPDX-License-Identifier: MIT
#pragma once

#include "app/FileError.h"
#include "core/Date.h"
#include "core/Json.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The ways record files are read and written. Every write reports its failure as a value;
// the stores decide whether to swallow it.
namespace exitwise::app::records {

// Permissions of a file that a write creates.
enum class NewFileMode
{
    ownerOnly, // 0600: everything in the data directory
    standard   // 0666 less the umask: files the user exports
};

// What a write does with a symbolic link in the file's place. Files only we write (the ledger,
// the reconciliation report) refuse one with ELOOP: a link planted in the data directory
// would otherwise lead a write to any file the user may write.
enum class Links
{
    follow,
    refuse
};

// The whole file. A missing file is an error with code ENOENT; anything but a regular file
// (a FIFO, a device) is refused at once with EINVAL, so a reader never blocks or runs forever.
[[nodiscard]] FileResult<std::string> readFile(const std::filesystem::path& path);

// Replaces `target` so that readers see either the old or the new content, even across a
// crash: the bytes go to a temporary file in the same directory, which is fsync'ed and
// renamed over the target, then the directory is fsync'ed. An existing target keeps its
// permissions. A symbolic link is followed to the regular file it points at, which is
// replaced, or to a missing file in an existing directory, which is created there. Anything
// else in the target's place (a FIFO, a socket, a device, a link that leads nowhere) is
// refused with a reason naming it, before anything is created.
[[nodiscard]] std::optional<FileError> atomicReplace(const std::filesystem::path& target,
                                                     std::string_view bytes,
                                                     NewFileMode mode = NewFileMode::ownerOnly);

// Writes a file the user chose, such as an export: as atomicReplace (new files get the
// standard permissions), except that a character device the user names on purpose
// (/dev/null, a terminal) is written where it is, never replaced.
[[nodiscard]] std::optional<FileError> writeChosenFile(const std::filesystem::path& target,
                                                       std::string_view bytes);

// Receives the content of a file in pieces; returns false once a write has failed.
using ContentSink = std::function<bool(std::string_view)>;

// atomicReplace for content too large to hold twice: `produce` hands its pieces to the sink.
[[nodiscard]] std::optional<FileError> atomicReplace(const std::filesystem::path& target,
                                                     const std::function<void(const ContentSink&)>& produce,
                                                     NewFileMode mode = NewFileMode::ownerOnly,
                                                     Links links = Links::follow);

// Appends and fsyncs; creates the file owner-only. Interrupted and short writes are
// continued. Meant for JSON-lines files: when the last line was left unfinished (a write cut
// short by a crash) the bytes start on a fresh line, so one torn record never swallows the next.
[[nodiscard]] std::optional<FileError>
durableAppend(const std::filesystem::path& path, std::string_view bytes, Links links = Links::follow);

// As durableAppend, without the fsync; a missing file is created by atomicReplace.
[[nodiscard]] std::optional<FileError> plainAppend(const std::filesystem::path& path, std::string_view bytes);

// Reads a file in pieces and calls `visit` with each non-empty line (without its line
// feed), in order; the last line needs no line feed. Only regular files are read, as by
// readFile. A failure to open or read is returned;
// lines before a read failure have been visited.
[[nodiscard]] std::optional<FileError> forEachLineInFile(const std::filesystem::path& path,
                                                         const std::function<void(std::string_view)>& visit);

// Which file a path led to when it was read, and how long it was then.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::int64_t modifiedNs = 0; // last modification, nanoseconds since 1970

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file at `path` itself (a symbolic link is not followed); none when there
// is nothing there or it cannot be examined.
[[nodiscard]] std::optional<FileIdentity> identify(const std::filesystem::path& path);

// One line as forEachLineInFileFrom hands it over: `end` is the file offset just past its line
// feed, or the file's end for a last line without one (`complete` false: it may be a line
// still being written).
struct LineInFile
{
    std::string_view text;
    std::uint64_t end = 0;
    bool complete = true;
};

// forEachLineInFile from byte `from` on (the start of a line), for readers that remember how
// far they got. `identity` receives the opened file's identity; when its size is below `from`
// nothing is visited.
[[nodiscard]] std::optional<FileError>
forEachLineInFileFrom(const std::filesystem::path& path,
                      std::uint64_t from,
                      FileIdentity& identity,
                      const std::function<void(const LineInFile&)>& visit);

// Renames a file that cannot be decoded to "<name>.unreadable-<yyyyMMdd'T'HHmmss'Z'>" so that
// the next write cannot destroy it. An existing name of that form is never overwritten (a
// counter is appended). Returns the new path.
[[nodiscard]] FileResult<std::filesystem::path> setAside(const std::filesystem::path& path, core::Date now);

// Whether a file that failed to load will fail the same way next time (content that does not
// decode, a file that may not be opened), as opposed to a passing failure such as EIO.
[[nodiscard]] bool isLastingLoadFailure(const FileError& error);

// One compact JSON object followed by a line feed.
[[nodiscard]] std::string jsonLine(const core::json::Json& record);

// Decodes a JSON-lines file line by line: empty lines and lines that do not decode (invalid
// JSON, invalid UTF-8, a failing `decode`) are skipped, the others returned in file order.
// An unreadable or missing file gives no records.
template <class F>
[[nodiscard]] auto readJsonLines(const std::filesystem::path& path, F&& decode)
    -> std::vector<std::invoke_result_t<F, const core::json::Json&>>;

template <class F>
auto readJsonLines(const std::filesystem::path& path, F&& decode)
    -> std::vector<std::invoke_result_t<F, const core::json::Json&>>
{
    std::vector<std::invoke_result_t<F, const core::json::Json&>> records;
    static_cast<void>(forEachLineInFile(path, [&](std::string_view line) {
        try {
            records.push_back(decode(core::json::parse(line)));
        } catch (const core::json::DecodeError&) {
            // Skipped: one bad line must not hide the others.
        } catch (const core::json::Json::exception&) {
        }
    }));
    return records;
}

} // namespace exitwise::app::records
