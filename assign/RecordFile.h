#pragma once

#include "Record.h"
#include "Twin.h"

#include <string>
#include <vector>

namespace assign {

/// The record on disk. Every change rewrites the whole file into a temporary beside it (a new
/// name, created exclusively, so that nothing planted in the folder is written through), fsyncs
/// it, renames it over the record and fsyncs the folder: a reader or a later run sees the old
/// or the new file, never half a line, and nothing written is lost to a crash. On Linux the
/// record is trusted only when no other user could have written or replaced it (see
/// recordPathUsable), so a folder shared with others is refused unless it is sticky.
class RecordFile {
public:
    RecordFile(std::string path, std::vector<RecordEntry> entries);

    /// Checks that the record can be written (before anything is sent); error says why not.
    bool writable(text::Twin& error) const;
    /// Adds the card, or replaces its line when it is in the record already; false and error
    /// when the file could not be written.
    bool put(const RecordEntry& entry, std::string& error);
    /// The same in memory only, to be written with the others by the next flush: a burst of
    /// cards then costs one write and one fsync, not one per card.
    void stage(const RecordEntry& entry);
    /// Writes what was staged since the last write, if anything; false and error when the
    /// file could not be written.
    bool flush(std::string& error);
    const std::vector<RecordEntry>& entries() const { return m_entries; }

private:
    bool save(std::string& error);

    std::string m_path;
    std::vector<RecordEntry> m_entries;
    bool m_staged = false;
};

/// Whether path may be the record: missing (a new record) or a regular file. A symbolic link
/// is refused, since replacing it by a plain file would silently drop what it points to. On
/// Linux also a record of another user than this one or root, one that others may write, and
/// one in a folder (or below a folder) where others could replace it, unless that folder is
/// sticky and what lies in it is this user's or root's.
bool recordPathUsable(const std::string& path, text::Twin& error);

/// Reads a whole file of at most maxBytes; false and error when it cannot. For the record a
/// symbolic link is refused, and on Linux whatever was opened must pass the record's own file
/// rules (a FIFO swapped in is refused, not waited on).
bool readFile(const std::string& path, std::size_t maxBytes, std::string& text, text::Twin& error,
              bool record = false);

/// The current local time as the record writes it: 2026-03-02T10:14:05+01:00.
std::string localTimeText();

} // namespace assign
