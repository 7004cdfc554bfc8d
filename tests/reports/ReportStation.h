// Test helper: a station home with a store and generated subscriber tables, for the report's
// reader, tool and dialog tests. Rows are generated from a seed and kept, so a test can choose
// the rows it expects with its own predicate.
#pragma once

#include "config/ConfigStore.h"
#include "config/TaskStore.h"
#include "data/DbfTypes.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace peltra::test {

// One generated subscriber row.
struct SubscriberRow {
    std::string telef;
    int proba = 0;
    std::optional<data::DbfDate> data;
    std::string clock;
    std::optional<double> summa;  // two decimals
    std::string fio;
    int kv = 0;
    bool paid = false;
};

// The fields of every generated table: the required five, SUMMA N 10.2, FIO C 20, KV N 4, PAID L.
std::vector<data::DbfFieldSpec> subscriberFields();
// count rows from seed: telephones of 5 to 9 digits (text order differs from number order),
// DATA empty for about a third, dates around February and March 2024, names with commas and quotes.
std::vector<SubscriberRow> generateRows(std::size_t count, unsigned seed);
// Writes a table with those fields and rows; false with a test failure when it cannot.
bool writeSubscriberTable(const std::filesystem::path& file, const std::vector<SubscriberRow>& rows);

class ReportStation {
public:
    ReportStation();
    ~ReportStation();

    const std::filesystem::path& home() const { return m_home; }
    std::filesystem::path tablePath(const std::string& name) const { return m_dir / "db" / name; }
    config::TaskStore& tasks() { return *m_tasks; }
    config::ConfigStore& store() { return *m_store; }
    // Closes the store, so a tool can open it.
    void closeStore();

private:
    TempDir m_dir;
    std::filesystem::path m_home;
    std::unique_ptr<platform::RegistryStore> m_registry;
    std::unique_ptr<config::ConfigStore> m_store;
    std::unique_ptr<config::TaskStore> m_tasks;
};

}  // namespace peltra::test
