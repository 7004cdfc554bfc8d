// Test helper: a pseudo-terminal whose slave path stands in for a serial port device.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace peltra::test {

// The master side stays with the test; the slave path is what the code under test opens.
class PseudoTerminal {
public:
    // Throws when no pseudo-terminal can be had, failing the test that made it.
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    int master() const { return m_master; }
    const std::string& slavePath() const { return m_slavePath; }

    // Hangs the terminal up, as an unplugged adapter vanishes.
    void closeMaster();

    // Reads what arrives at the master until count bytes came or limit passed without any
    // arriving.
    std::vector<std::uint8_t> read(std::size_t count, std::chrono::milliseconds limit);

private:
    int m_master = -1;
    std::string m_slavePath;
};

}  // namespace peltra::test
