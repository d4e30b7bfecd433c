#include "RecordFile.h"

namespace assign {

RecordFile::RecordFile(std::string path, std::vector<RecordEntry> entries)
    : m_path(std::move(path)), m_entries(std::move(entries))
{
}

bool RecordFile::put(const RecordEntry& entry, std::string& error)
{
    stage(entry);
    return flush(error);
}

void RecordFile::stage(const RecordEntry& entry)
{
    bool replaced = false;
    for (RecordEntry& e : m_entries) {
        if (e.mac == entry.mac) {
            e = entry;
            replaced = true;
        }
    }
    if (!replaced) {
        m_entries.push_back(entry);
    }
    m_staged = true;
}

bool RecordFile::flush(std::string& error)
{
    if (!m_staged) {
        return true;
    }
    m_staged = false;
    return save(error);
}

} // namespace assign
