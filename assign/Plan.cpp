#include "Plan.h"

namespace assign {

namespace {

std::string at(const std::string& file, const Position& p)
{
    return file + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": ";
}

std::optional<Ip> optionIp(const std::string& option, const std::string& text,
                           std::vector<text::Twin>& errors)
{
    text::Twin why;
    const auto ip = parseIp(text, why);
    if (!ip) {
        errors.push_back(placed(option + ": ", why));
    }
    return ip;
}

} // namespace

Plan Plan::make(const Options& o, const Inputs& in, std::vector<text::Twin>& errors)
{
    Plan plan;
    const std::size_t before = errors.size();
    if (!o.mac.empty()) {
        text::Twin why;
        const auto mac = parseMac(o.mac, why);
        if (!mac) {
            errors.push_back(placed("--mac: ", why));
        }
        const auto ip = optionIp("--ip", o.ip, errors);
        const auto mask = optionIp("--mask", o.mask, errors);
        const auto gateway = optionIp("--gateway", o.gateway, errors);
        if (ip && mask && gateway) {
            if (const auto problem = checkSettings(*ip, *mask, *gateway)) {
                using Field = SettingsProblem::Field;
                const char* option = problem->field == Field::Address ? "--ip: "
                                     : problem->field == Field::Mask  ? "--mask: "
                                                                      : "--gateway: ";
                errors.push_back(placed(option, problem->text));
            } else if (mac) {
                plan.m_listed.push_back({*mac, *ip, *mask, *gateway, {}, {}, {}, {}});
            }
        }
    }
    if (!o.list.empty()) {
        RelationList list = readRelationList(in.listText);
        for (const InputError& e : list.errors) {
            errors.push_back(placed(at(o.list, e.at), e.text));
        }
        plan.m_listed = std::move(list.cards);
    }
    // A listed card's place: its ip field in the list, or --ip for the one card.
    const auto cardAt = [&o](const ListedCard& card) {
        return o.list.empty() ? std::string("--ip: ") : at(o.list, card.ipAt);
    };
    for (std::size_t i = 0; i < plan.m_listed.size(); ++i) {
        const ListedCard& card = plan.m_listed[i];
        plan.m_byMac.emplace(card.mac, i);
        if (in.local.contains(card.ip)) {
            errors.push_back(
                placed(cardAt(card), text::twin(text::Id::AssignErrOwnAddress, {ipText(card.ip)})));
        }
    }
    if (!o.record.empty()) {
        RecordTable record = readRecord(in.recordText);
        for (const InputError& e : record.errors) {
            errors.push_back(placed(at(o.record, e.at), e.text));
        }
        plan.m_recorded = std::move(record.entries);
        std::map<Ip, const RecordEntry*> byIp;
        for (const RecordEntry& e : plan.m_recorded) {
            byIp.emplace(e.ip, &e);
        }
        for (const ListedCard& card : plan.m_listed) {
            const auto other = byIp.find(card.ip);
            if (other != byIp.end() && other->second->mac != card.mac) {
                errors.push_back(
                    placed(cardAt(card),
                           text::twin(text::Id::AssignErrGivenBefore,
                                      {ipText(card.ip), macText(other->second->mac), o.record,
                                       std::to_string(other->second->ipAt.line)})));
            }
        }
    }
    if (!o.pool.empty()) {
        text::Twin why;
        const auto range = parsePool(o.pool, why);
        if (!range) {
            errors.push_back(placed("--pool: ", why));
        }
        const auto mask = optionIp("--mask", o.mask, errors);
        const auto gateway = optionIp("--gateway", o.gateway, errors);
        if (range && mask && gateway) {
            const text::Twin problem = poolProblem(*range, *mask, *gateway);
            if (!problem.empty()) {
                errors.push_back(placed("--pool: ", problem));
            } else {
                Pool pool(*range);
                for (const ListedCard& card : plan.m_listed) {
                    if (pool.contains(card.ip)) {
                        errors.push_back(placed(at(o.list, card.ipAt),
                                                text::twin(text::Id::AssignErrInPool,
                                                           {ipText(card.ip), poolText(*range)})));
                    }
                    pool.reserve(card.ip);
                    pool.reserve(card.gateway);
                }
                for (const RecordEntry& e : plan.m_recorded) {
                    pool.reserve(e.ip);
                    pool.continueAfter(e.ip);
                    if (pool.contains(e.ip) && !plan.m_byMac.contains(e.mac)) {
                        ++plan.m_recordedFromPool;
                    }
                }
                for (Ip ip : in.local) {
                    pool.reserve(ip);
                }
                pool.reserve(*gateway);
                plan.m_pool = pool;
                plan.m_poolMask = *mask;
                plan.m_poolGateway = *gateway;
            }
        }
        plan.m_poolCount = o.count;
    }
    for (const RecordEntry& e : plan.m_recorded) {
        plan.m_given[e.mac] = {{e.ip, e.mask, e.gateway}, false};
    }
    if (errors.size() != before) {
        return Plan{};
    }
    return plan;
}

Plan::Decision Plan::decide(const Mac& mac)
{
    Decision d;
    if (const auto listed = m_byMac.find(mac); listed != m_byMac.end()) {
        const ListedCard& card = m_listed[listed->second];
        d.kind = Decision::Kind::Assign;
        d.source = Source::List;
        d.settings = {card.ip, card.mask, card.gateway};
        d.name = card.name;
        d.extra = card.extra;
        return d;
    }
    if (!m_pool) {
        d.kind = Decision::Kind::NotListed;
        return d;
    }
    d.source = Source::Pool;
    if (const auto given = m_given.find(mac); given != m_given.end()) {
        d.kind = Decision::Kind::Assign;
        d.source = given->second.second ? Source::Pool : Source::Record;
        d.settings = given->second.first;
        return d;
    }
    if (const auto candidate = m_candidate.find(mac); candidate != m_candidate.end()) {
        d.kind = Decision::Kind::Probe;
        d.settings = {candidate->second, m_poolMask, m_poolGateway};
        return d;
    }
    const std::optional<Ip> ip = m_pool->take();
    if (!ip) {
        d.kind = Decision::Kind::PoolExhausted;
        return d;
    }
    m_candidate[mac] = *ip;
    d.kind = Decision::Kind::Probe;
    d.settings = {*ip, m_poolMask, m_poolGateway};
    return d;
}

Plan::Decision Plan::inUse(const Mac& mac)
{
    m_candidate.erase(mac);
    return decide(mac);
}

void Plan::given(const Mac& mac, const Settings& settings)
{
    m_candidate.erase(mac);
    if (!isListed(mac)) {
        m_given[mac] = {settings, true};
    }
}

void Plan::release(const Mac& mac)
{
    if (const auto candidate = m_candidate.find(mac); candidate != m_candidate.end()) {
        m_pool->giveBack(candidate->second);
        m_candidate.erase(candidate);
    }
}

void Plan::unusable(const Mac& mac)
{
    m_candidate.erase(mac);
}

} // namespace assign
