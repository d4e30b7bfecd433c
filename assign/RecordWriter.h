#pragma once

#include "RecordFile.h"

#include <optional>
#include <string>
#include <vector>

namespace assign {

/// The record writer of a run: stages each card's line as the card is answered or checked,
/// and writes what changed in one go, so that a burst of cards costs one write. Does nothing
/// when the run keeps no record.
class RecordWriter {
public:
    explicit RecordWriter(std::optional<RecordFile>& record) : m_record(record) {}

    bool enabled() const { return m_record.has_value(); }
    /// Stages the card's line, stamped with the time now. A card the list no longer names keeps
    /// the name and columns the record knew; a line that only settles the check keeps the time
    /// of the reply.
    void write(RecordEntry entry);
    /// Writes what was staged; when the file could not be written, returns the cards that are
    /// not recorded, with error saying why.
    std::vector<Mac> flush(std::string& error);

private:
    std::optional<RecordFile>& m_record;
    std::vector<Mac> m_unsaved; ///< cards staged since the record was last written
};

} // namespace assign
