#pragma once
// The rules every write of the program follows so that no file of the user's
// is lost: an output is never a file the same command reads, temporary
// files have names no other process can hold, and a target is replaced only
// when the caller asked for it, at the moment of the rename.
#include <string>
#include <vector>

namespace safefile {

// Whether `a` and `b` name one existing file (device and inode, so every
// spelling, `..` and link counts).
bool SameFile(const std::string& a, const std::string& b);

// "" when `output` is none of `inputs`; otherwise the reason, naming both.
std::string InputAsOutput(const std::string& output, const std::vector<std::string>& inputs);

// "" when `path` can be read as a source; otherwise why not: missing, a
// folder, or not a regular file (FIFO, device, socket, files of /proc and
// /sys, whose sizes say nothing of what a read returns).
std::string SourceProblem(const std::string& path);

// Creates an empty file no other process holds, in the folder of `target`,
// named after it: TARGET-XXXXXX~ (or TARGET-XXXXXXSUFFIX, `suffix` kept for
// writers that choose by extension). Returns its name; "" with the reason.
std::string CreateTemp(const std::string& target, std::string* why, const std::string& suffix = "~");

// Moves the finished `temp` to `target`. With `replace` false an existing
// target is kept (and the move fails with "TARGET already exists"), decided
// at the moment of the move: renameat2's RENAME_NOREPLACE, else a hard link
// and an unlink, else (a file system without either) a check just before the
// rename. `temp` is removed on failure.
bool Publish(const std::string& temp, const std::string& target, bool replace, std::string* why);

// Tests stand in for file systems without renameat2 or hard links.
void SimulateMissingNoReplace(bool noRenameat2, bool noLinks);

// At most `limit` characters of `text` (with "..." when cut), control
// characters shown as \n, \r, \t, \e or \xNN: what is quoted from a file
// into a message can neither flood nor steer a terminal.
std::string Printable(const std::string& text, size_t limit = 200);

} // namespace safefile
