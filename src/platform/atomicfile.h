#pragma once
#include <string>
#include <string_view>

namespace vx {

// An existing regular file that the program must not write: no write permission in its
// mode (whoever runs the program) or none for this process.
[[nodiscard]] bool IsReadOnlyFile(const std::string& path);

// Writes `data` to a fresh temporary file beside `path`, flushes it to the disk and renames
// it over `path`, so that a crash or a full disk leaves either the old file or the new one,
// never a truncated one. Answers 0, or the errno of the step that failed (the temporary
// file is then removed and `path` is untouched). `failedStep`, when given, names that step:
// "create", "write" or "replace"; "read-only" (EACCES) for an existing file without write
// permission, which is never replaced.
//
// A file that is replaced keeps its permissions; a new one gets those of any new file
// (0666 less the umask, which is left alone). A symbolic link is written through: its
// target is replaced and the link stays.
[[nodiscard]] int WriteFileAtomically(const std::string& path, std::string_view data,
                                      const char** failedStep = nullptr);

}  // namespace vx
