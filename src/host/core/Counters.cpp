#include <map>
#include <memory>
#include <mutex>

#include <lmxmaps/host/Counters.h>

namespace HostCounters {

namespace {

// An immutable name table; readers use whichever table was current when they looked.
using NameTable = std::map<std::string, Counter*, std::less<>>;

class Registry {
public:
    Registry() {
        m_tables.push_back(std::make_unique<NameTable>());
        m_current.store(m_tables.front().get(), std::memory_order_release);
    }

    Counter* Lookup(std::string_view name) const {
        const NameTable* table = m_current.load(std::memory_order_acquire);
        const auto found = table->find(name);
        return found == table->end() ? nullptr : found->second;
    }

    Counter& Register(std::string_view name) {
        std::lock_guard lock(m_registrationMutex);
        if (Counter* existing = Lookup(name)) {
            return *existing;
        }
        Counter& counter = *m_counters.emplace_back(std::make_unique<Counter>(std::string(name)));
        auto next = std::make_unique<NameTable>(*m_current.load(std::memory_order_relaxed));
        next->emplace(counter.GetName(), &counter);
        // Earlier tables stay alive: a reader may still be searching one. Registrations are
        // few (one per counter name), so keeping them costs little.
        m_current.store(next.get(), std::memory_order_release);
        m_tables.push_back(std::move(next));
        return counter;
    }

    const NameTable& Current() const { return *m_current.load(std::memory_order_acquire); }

private:
    std::mutex m_registrationMutex;
    std::vector<std::unique_ptr<Counter>> m_counters;
    std::vector<std::unique_ptr<NameTable>> m_tables;
    std::atomic<const NameTable*> m_current{nullptr};
};

// Never destroyed: objects with static lifetime may count while the process exits.
Registry& TheRegistry() {
    static Registry* registry = new Registry;
    return *registry;
}

} // namespace

Counter& Find(std::string_view name) {
    Registry& registry = TheRegistry();
    if (Counter* counter = registry.Lookup(name)) {
        return *counter;
    }
    return registry.Register(name);
}

void Increment(std::string_view name, std::int64_t by) {
    Find(name).Increment(by);
}

std::int64_t Get(std::string_view name) {
    const Counter* counter = TheRegistry().Lookup(name);
    return counter ? counter->Get() : 0;
}

std::vector<std::pair<std::string, std::int64_t>> Snapshot() {
    std::vector<std::pair<std::string, std::int64_t>> values;
    for (const auto& [name, counter] : TheRegistry().Current()) {
        values.emplace_back(name, counter->Get());
    }
    return values;
}

} // namespace HostCounters
