#pragma once

#include "Options.h"
#include "Pool.h"
#include "Record.h"
#include "RelationList.h"

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Who gets which address: the checked relation list, the pool and what the record says was
// given out before. Built before the helper starts, so that bad input is refused before
// anything is sent.
namespace assign {

struct Settings {
    Ip ip = 0;
    Ip mask = 0;
    Ip gateway = 0;
    bool operator==(const Settings&) const = default;
};

/// What a run was given to read; the files' contents, not their names, so tests need none.
struct Inputs {
    std::string listText;
    std::string recordText; ///< empty for a record that does not exist yet
    std::set<Ip> local;     ///< addresses of this PC, never handed out from the pool
};

class Plan {
public:
    enum class Source { List, Record, Pool };

    struct Decision {
        enum class Kind {
            Assign,       ///< answer now with settings
            Probe,        ///< settings hold a pool address: check that nobody answers on it
            NotListed,    ///< not on the list and no pool: never answered
            PoolExhausted ///< not on the list and the pool has no address left
        };
        Kind kind = Kind::NotListed;
        Source source = Source::List;
        Settings settings;
        std::string name;
        std::vector<ExtraField> extra;
    };

    /// Checks the options' values and the files against each other. Every problem is added to
    /// errors as "FILE:LINE:COLUMN: text" or "--option: text", in both languages; the plan is
    /// usable only when none was added.
    static Plan make(const Options& options, const Inputs& inputs, std::vector<text::Twin>& errors);

    /// What to do for a card's request.
    Decision decide(const Mac& mac);
    /// The pool address offered to mac answered on the network: the next one, or exhausted.
    Decision inUse(const Mac& mac);
    /// The reply to mac went out: a later request from it gets the same settings.
    void given(const Mac& mac, const Settings& settings);
    /// The reply to mac did not go out: its pool address goes back to the pool.
    void release(const Mac& mac);
    /// The pool address offered to mac may be nobody's: it is dropped, not handed out again.
    void unusable(const Mac& mac);

    const std::vector<ListedCard>& listed() const { return m_listed; }
    bool isListed(const Mac& mac) const { return m_byMac.contains(mac); }
    bool hasPool() const { return m_pool.has_value(); }
    /// Cards from the pool to wait for; nullopt: as many as come.
    std::optional<long> poolCount() const { return m_poolCount; }
    const std::optional<Pool>& pool() const { return m_pool; }
    const std::vector<RecordEntry>& recorded() const { return m_recorded; }
    /// Cards the record holds from the pool (not listed, an address in the range): they count
    /// towards --count, which is the total of the roll-out.
    long recordedFromPool() const { return m_recordedFromPool; }

private:
    std::vector<ListedCard> m_listed;
    std::map<Mac, std::size_t> m_byMac;
    std::optional<Pool> m_pool;
    Ip m_poolMask = 0;
    Ip m_poolGateway = 0;
    std::optional<long> m_poolCount;
    long m_recordedFromPool = 0;
    std::vector<RecordEntry> m_recorded;
    std::map<Mac, std::pair<Settings, bool>> m_given; ///< settings, and whether from this run
    std::map<Mac, Ip> m_candidate;
};

} // namespace assign
