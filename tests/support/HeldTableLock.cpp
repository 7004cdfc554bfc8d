// Another program holding a table's writer lock.
#include "support/HeldTableLock.h"

#include "support/PythonDbf.h"

#include <chrono>
#include <string>
#include <thread>

namespace peltra::test {

HeldTableLock::HeldTableLock(const std::filesystem::path& table, const std::filesystem::path& workDir)
{
    std::filesystem::create_directories(workDir);
    const std::filesystem::path marker = workDir / "lock-held";
    std::filesystem::remove(marker);
    // A classic POSIX lock on the byte the station's writers lock: the two kinds exclude each other.
    const std::string script = "import fcntl,sys\n"
                               "f=open(sys.argv[1],'r+b')\n"
                               "fcntl.lockf(f,fcntl.LOCK_EX,1,0x7FFFFFF0)\n"
                               "open(sys.argv[2],'w').close()\n"
                               "sys.stdin.readline()\n";
    const std::string command =
        std::string(kPython) + " -c \"" + script + "\" '" + table.string() + "' '" + marker.string() + "'";
    m_process = ::popen(command.c_str(), "w");
    for (int i = 0; m_process && i < 500 && !std::filesystem::exists(marker); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    m_held = std::filesystem::exists(marker);
}

HeldTableLock::~HeldTableLock() { release(); }

void HeldTableLock::release()
{
    if (!m_process)
        return;
    std::fputs("\n", m_process);
    ::pclose(m_process);
    m_process = nullptr;
}

}  // namespace peltra::test
