// The record writer: each card's line staged as the run goes, and written in one go.
#include "RecordWriter.h"

namespace assign {

void RecordWriter::write(RecordEntry entry)
{
    if (!m_record) {
        return;
    }
    const bool unnamed = entry.name.empty() && entry.extra.empty();
    entry.time = localTimeText();
    for (const RecordEntry& old : m_record->entries()) {
        // A card the list no longer names keeps what the record knew of it.
        if (old.mac == entry.mac && unnamed) {
            entry.name = old.name;
            entry.extra = old.extra;
        }
        // The time is the reply's: a later change of the confirmation keeps it.
        if (old.mac == entry.mac && entry.confirmed != Confirmed::Pending &&
            entry.confirmed != Confirmed::Unchecked) {
            entry.time = old.time;
        }
    }
    m_unsaved.push_back(entry.mac);
    m_record->stage(entry);
}

std::vector<Mac> RecordWriter::flush(std::string& error)
{
    if (!m_record || m_unsaved.empty()) {
        return {};
    }
    std::vector<Mac> lost;
    if (!m_record->flush(error)) {
        lost = m_unsaved;
    }
    m_unsaved.clear();
    return lost;
}

} // namespace assign
