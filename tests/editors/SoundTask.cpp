// Test fixture: one sound task on a table python3-dbf writes.
#include "SoundTask.h"

#include "speech/Patterns.h"
#include "support/PythonDbf.h"

#include <cstdlib>
#include <utility>

namespace peltra::test {

SoundTask::SoundTask()
    : m_table(m_dir / "abon.dbf"), m_registry(m_dir / "registry.db"), m_store(m_registry), m_tasks(m_store)
{
    if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
        m_savedRuntime = old;
    setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
    m_error = setUp();
}

std::string SoundTask::setUp()
{

    writeTableByPython(m_table, "TELEF C(12); PROBA N(3,0); OTBOJ N(3,0); DATA D; CLOCK C(8); FIO C(20); SUMMA N(10,0)",
                       {"('2001', 0, None, None, None, 'Иванов', 150)", "('2002', 0, None, None, None, 'Петров', 50)",
                        "('2003', 0, None, None, None, 'ивашкин', 550)",
                        "('2004', 0, None, None, None, 'Сидоров', 1000)"}, "cp866", false);
    if (!std::filesystem::exists(m_table) ||
        m_tasks.addBinding(kBinding, m_table.string(), "") != config::AddResult::Added ||
        config::Operators(m_store, kBinding).add(kTask) != config::AddResult::Added ||
        task().setSort("SUMMA", "N", true) != config::Change::Changed ||
        !task().schedules().add(config::dailyBlock({8 * 3600, 20 * 3600}), 0, false))
        return "the task could not be set up";
    speech::Patterns patterns(m_store, kBinding, kTask);
    if (!patterns.isOpen())
        return patterns.openError();
    std::string after, error;
    for (const auto& [path, field] : {std::pair<const char*, const char*>{"Фразы\\Здравствуйте", ""},
                                      {"Функции\\Гривны", "SUMMA"}, {"Фразы\\Конец", ""}}) {
        speech::PatternItem item;
        item.path = path;
        item.arg = field;
        const std::optional<std::string> made = patterns.Insert(after, item, &error);
        if (!made)
            return "the template could not be written: " + error;
        after = *made;
    }
    return {};
}

SoundTask::~SoundTask()
{
    if (m_savedRuntime)
        setenv("XDG_RUNTIME_DIR", m_savedRuntime->c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
}

}  // namespace peltra::test
