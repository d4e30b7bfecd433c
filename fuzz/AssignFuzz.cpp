// Feeds any bytes to the readers of the files an operator hands torvane-assign: the relation
// list and the record. Whatever they accept must obey the rules the helper checks, name no
// MAC or address twice, and survive being written and read back; every refusal names a place
// in the file.
#include "Record.h"
#include "RelationList.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string_view>

namespace {

void check(bool condition)
{
    if (!condition) {
        __builtin_trap();
    }
}

void checkPlaces(const std::vector<assign::InputError>& errors)
{
    for (const assign::InputError& e : errors) {
        check(e.at.line >= 1 && e.at.column >= 1 && !e.text.empty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace assign;
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const RelationList list = readRelationList(text);
    checkPlaces(list.errors);
    check(!list.cards.empty() || !list.errors.empty());
    std::set<Mac> macs;
    std::set<Ip> addresses;
    for (const ListedCard& card : list.cards) {
        check(!checkSettings(card.ip, card.mask, card.gateway));
        check(macs.insert(card.mac).second && addresses.insert(card.ip).second);
        check(card.macAt.line >= 2 && bootp::isCardMac(card.mac));
    }

    const RecordTable record = readRecord(text);
    checkPlaces(record.errors);
    macs.clear();
    addresses.clear();
    for (const RecordEntry& e : record.entries) {
        check(!checkSettings(e.ip, e.mask, e.gateway) && recordTime(e.time));
        check(macs.insert(e.mac).second && addresses.insert(e.ip).second);
    }
    const RecordTable again = readRecord(recordText(record.entries));
    check(again.errors.empty() && again.entries.size() == record.entries.size());
    for (std::size_t i = 0; i < again.entries.size(); ++i) {
        const RecordEntry& a = again.entries[i];
        const RecordEntry& b = record.entries[i];
        check(a.mac == b.mac && a.ip == b.ip && a.mask == b.mask && a.gateway == b.gateway &&
              a.time == b.time && a.confirmed == b.confirmed && a.name == b.name &&
              a.extra == b.extra);
    }
    return 0;
}
